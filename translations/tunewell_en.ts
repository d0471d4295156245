<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>BgMusicListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>合 成</source>
        <translation>Mix</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>Cli</name>
    <message>
        <source>--format %1 只用于视频文件</source>
        <translation>--format %1 is for video files only</translation>
    </message>
    <message>
        <source>--format %1 只用于音频文件</source>
        <translation>--format %1 is for audio files only</translation>
    </message>
    <message>
        <source>--jobs 取 1 到 256 的整数</source>
        <translation>--jobs takes a whole number from 1 to 256</translation>
    </message>
    <message>
        <source>--output-dir 取一个文件夹</source>
        <translation>--output-dir takes a folder</translation>
    </message>
    <message>
        <source>--channels 取 1 或 2</source>
        <translation>--channels takes 1 or 2</translation>
    </message>
    <message>
        <source>--rate 取 48000 44100 32000 24000 22050 16000 12000 11025 8000 之一</source>
        <translation>--rate takes one of 48000 44100 32000 24000 22050 16000 12000 11025 8000</translation>
    </message>
    <message>
        <source>（--factor 取 0.5 到 100）</source>
        <translation> (--factor takes 0.5 to 100)</translation>
    </message>
    <message>
        <source>--factor 取 0 到 100 的数</source>
        <translation>--factor takes a number from 0 to 100</translation>
    </message>
    <message>
        <source>--%1 取 起点,时长（整秒）</source>
        <translation>--%1 takes START,DURATION in whole seconds</translation>
    </message>
    <message>
        <source>--level 取 -100 到 100 的整数（dB）</source>
        <translation>--level takes a whole number of dB from -100 to 100</translation>
    </message>
    <message>
        <source>--level 取 1、2 或 3</source>
        <translation>--level takes 1, 2 or 3</translation>
    </message>
    <message>
        <source>--source 取 all、microphone 或 system</source>
        <translation>--source takes all, microphone or system</translation>
    </message>
    <message>
        <source>没有给出命令（见 --help）</source>
        <translation>no command given (try --help)</translation>
    </message>
    <message>
        <source>未知命令 &apos;%1&apos;（见 --help）</source>
        <translation>unknown command &apos;%1&apos; (try --help)</translation>
    </message>
    <message>
        <source>未知选项 &apos;%1&apos;（以 &apos;-&apos; 开头的文件名放在 &apos;--&apos; 之后）</source>
        <translation>unknown option &apos;%1&apos; (files starting with &apos;-&apos; go after &apos;--&apos;)</translation>
    </message>
    <message>
        <source>%2 没有选项 &apos;--%1&apos;（见 %2 --help）</source>
        <translation>unknown option &apos;--%1&apos; for %2 (try %2 --help)</translation>
    </message>
    <message>
        <source>--%1 需要一个值</source>
        <translation>--%1 needs a value</translation>
    </message>
    <message>
        <source>--%1 不带值</source>
        <translation>--%1 takes no value</translation>
    </message>
    <message>
        <source>--%1 给了两次</source>
        <translation>--%1 given twice</translation>
    </message>
    <message>
        <source>%1 需要 --%2</source>
        <translation>%1 needs --%2</translation>
    </message>
    <message>
        <source>%1 不接受文件</source>
        <translation>%1 takes no files</translation>
    </message>
    <message>
        <source>%1 至少需要一个文件</source>
        <translation>%1 needs at least one file</translation>
    </message>
    <message>
        <source>
通用选项：
  --output-dir DIR   结果写入 DIR，而不是设置中的输出目录
  --jobs N           同时运行 N 个任务（默认：处理器核数）
  --help             显示本帮助
以 &apos;-&apos; 开头的文件名请放在 &apos;--&apos; 之后。
</source>
        <translation>
Common options:
  --output-dir DIR   write results into DIR instead of the output folder of the settings
  --jobs N           run N jobs at once (default: the number of cores)
  --help             show this help
Put &apos;--&apos; before file names that start with &apos;-&apos;.
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli merge --format F FILE FILE...
把这些文件按给出的顺序合并为一个文件，命名为 %1&lt;时间戳&gt;.F
</source>
        <translation>Usage: tunewell-cli merge --format F FILE FILE...
Joins the files, in the order given, into one file named %1&lt;timestamp&gt;.F
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli speed --factor X FILE...
把每个文件加快到 X 倍速播放，音调不变（X 取 0.5 到 100）。
</source>
        <translation>Usage: tunewell-cli speed --factor X FILE...
Plays each file X times as fast without changing its pitch (X from 0.5 to 100).
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli extract --format F [--accompaniment] FILE...
取出视频的声音；加 --accompaniment 或对音频文件，消除中置人声保留伴奏
（左声道减右声道，单声道）。
</source>
        <translation>Usage: tunewell-cli extract --format F [--accompaniment] FILE...
Takes the sound track out of a video; with --accompaniment, or for an audio file, keeps the
accompaniment by cancelling the centre (left minus right, one channel).
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli volume --factor X [--fade-in START,DURATION] [--fade-out START,DURATION] FILE...
把音量乘以 X（0 到 100）并加上淡入淡出；时间为整秒。淡出的 START 为 0 时，
淡出在文件末尾结束。
</source>
        <translation>Usage: tunewell-cli volume --factor X [--fade-in START,DURATION] [--fade-out START,DURATION] FILE...
Multiplies the level by X (0 to 100) and adds fades; times in whole seconds. A fade-out START of 0
ends the fade at the end of the file.
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli bgmusic --music FILE [--level DB] [--delay S] [--loop] FILE...
把音乐混在每个文件下面：--level 以 dB 调整音乐的音量（负数更轻），
--delay 在 S 整秒后开始，--loop 循环播放至文件结束。
</source>
        <translation>Usage: tunewell-cli bgmusic --music FILE [--level DB] [--delay S] [--loop] FILE...
Mixes the music under each file: --level changes the music&apos;s level in dB (negative is quieter),
--delay starts it after S whole seconds, --loop repeats it to the end of the file.
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli cut --from TIME --to TIME FILE...
把每个文件两个时间之间的片段写成新的音频文件。TIME 与剪辑页相同，为
H:MM:SS.cc，例如 00:01:05.25（cc 为百分之一秒）。开始晚于结束时，
从文件开头剪到结尾。
</source>
        <translation>Usage: tunewell-cli cut --from TIME --to TIME FILE...
Writes the stretch between the two times of each file as a new audio file. TIME reads
H:MM:SS.cc as on the cut page, e.g. 00:01:05.25 (cc is hundredths). A start after the end
cuts from the start to the end of the file.
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli denoise [--level 1|2|3] [--format F] FILE...
去除音频和视频文件中持续的背景噪声（3 级去除最多；默认 2）。
  --format F   结果的格式：音频文件为 mp3 aac m4a（默认 mp3），
               视频文件为 mp4 mkv mov flv（默认 mp4）
</source>
        <translation>Usage: tunewell-cli denoise [--level 1|2|3] [--format F] FILE...
Removes steady background noise from audio and video files (level 3 removes most; default 2).
  --format F   the result&apos;s format: mp3 aac m4a for audio files (default mp3),
               mp4 mkv mov flv for video files (default mp4)
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli waveform [--json] FILE...
输出剪辑页所画的波形值，每行一个（或为 JSON）。
</source>
        <translation>Usage: tunewell-cli waveform [--json] FILE...
Prints the waveform values the cut page draws, one per line (or as JSON).
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli probe FILE...
输出每个文件的路径、大小和时长，与列表中所示相同，以制表符分隔。
</source>
        <translation>Usage: tunewell-cli probe FILE...
Prints each file&apos;s path, size and duration as the lists show them, separated by tabs.
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli record --seconds S [--source all|microphone|system]
把 S 秒的系统声音、麦克风或两者录成录音文件夹中的 MP3，
使用录音页的设置（降噪、自动增益、增益强度）。
  --source   默认：录音页上次选择的来源
</source>
        <translation>Usage: tunewell-cli record --seconds S [--source all|microphone|system]
Records S seconds of the system sound, the microphone or both into an MP3 in the recordings
folder, with the recorder page&apos;s settings (noise suppression, gain control, boost).
  --source   default: the source last chosen on the recorder page
</translation>
    </message>
    <message>
        <source>用法：tunewell-cli COMMAND [OPTIONS] FILE...
不开窗口，运行 Tunewell 的文件任务。

命令：
  convert   转换为其他格式、声道数、采样率或比特率
  merge     把多个文件合并为一个
  speed     加快或放慢，音调不变
  extract   取出视频的声音，或保留伴奏
  volume    调整音量，加上淡入和淡出
  bgmusic   在文件下面混入背景音乐
  cut       把文件的一段写成新文件
  denoise   去除持续的背景噪声
  waveform  输出波形值
  probe     输出大小和时长
  record    录制系统声音和/或麦克风

&apos;tunewell-cli COMMAND --help&apos; 说明一个命令，&apos;tunewell-cli --version&apos; 显示版本，
&apos;tunewell-cli --formats&apos; 列出本机能写出的格式。
退出状态：全部任务成功为 0，有任务失败为 1，用法错误为 2。
</source>
        <translation>Usage: tunewell-cli COMMAND [OPTIONS] FILE...
Runs Tunewell&apos;s file jobs without the window.

Commands:
  convert   convert to another format, channel count, sample rate or bit rate
  merge     join several files into one
  speed     play faster or slower without changing pitch
  extract   take the sound out of a video, or keep the accompaniment
  volume    change the level, add a fade-in and a fade-out
  bgmusic   mix background music under a file
  cut       write a stretch of a file as a new file
  denoise   remove steady background noise
  waveform  print the waveform values
  probe     print size and duration
  record    record the system sound and/or the microphone

&apos;tunewell-cli COMMAND --help&apos; describes a command, &apos;tunewell-cli --version&apos; shows the version,
&apos;tunewell-cli --formats&apos; lists the formats this machine can write.
Exit status: 0 when every job succeeded, 1 when any failed, 2 for usage errors.
</translation>
    </message>
    <message>
        <source>（--format 取以下之一：%1）</source>
        <translation> (--format takes one of: %1)</translation>
    </message>
    <message>
        <source>（--from 的格式为 H:MM:SS.cc）</source>
        <translation> (--from reads H:MM:SS.cc)</translation>
    </message>
    <message>
        <source>（--to 的格式为 H:MM:SS.cc）</source>
        <translation> (--to reads H:MM:SS.cc)</translation>
    </message>
    <message>
        <source>无法建立该文件夹：%1</source>
        <translation>cannot make the folder: %1</translation>
    </message>
    <message>
        <source>不是文件夹</source>
        <translation>not a folder</translation>
    </message>
    <message>
        <source>无法写入该文件夹：%1</source>
        <translation>cannot write there: %1</translation>
    </message>
    <message>
        <source>--bitrate 取 320000 256000 192000 128000 96000 64000 之一，或 vbr</source>
        <translation>--bitrate takes one of 320000 256000 192000 128000 96000 64000, or vbr</translation>
    </message>
    <message>
        <source>用法：tunewell-cli convert --format F [--channels 1|2] [--rate HZ] [--bitrate BPS] FILE...
把每个文件（或视频的声音）转换为格式 F；结果以源文件命名、换上新扩展名，在 F 能容纳时
保留封面图片和标签，从不替换已有的文件；任务结束时名字已被占用则加上 &quot;-2&quot;、&quot;-3&quot; ...
  --format F      输出格式，本机的转码程序能写出的之一（见 --formats；amr 为 8000 Hz 单声道）
  --channels N    1 或 2 个声道（默认：与源文件相同）
  --rate HZ       48000 44100 32000 24000 22050 16000 12000 11025 8000（默认：与源文件相同）
  --bitrate BPS   320000 256000 192000 128000 96000 64000（或 320k ...），或 vbr：mp3 用可变
                  比特率（其他格式同默认）。默认：源文件的比特率，取编码器可用的最接近值
</source>
        <translation>Usage: tunewell-cli convert --format F [--channels 1|2] [--rate HZ] [--bitrate BPS] FILE...
Converts each file (or the sound of a video) to format F; the result is named after the source
with the new extension, keeps its cover picture and tags where F holds them, and never replaces
a file: a name taken when the job ends gets &quot;-2&quot;, &quot;-3&quot; ...
  --format F      output format, one the transcoder here can write (see --formats; amr is 8000 Hz mono)
  --channels N    1 or 2 channels (default: the source&apos;s)
  --rate HZ       48000 44100 32000 24000 22050 16000 12000 11025 8000 (default: the source&apos;s)
  --bitrate BPS   320000 256000 192000 128000 96000 64000 (or 320k ...), or vbr: variable
                  bit rate for mp3 (elsewhere as the default). Default: the source&apos;s bit rate,
                  the nearest the format&apos;s encoder takes
</translation>
    </message>
    <message>
        <source>--seconds 取 0.1 到 86400 的秒数</source>
        <translation>--seconds takes a number of seconds from 0.1 to 86400</translation>
    </message>
    <message>
        <source>（--format 对音频文件取 mp3 aac m4a，对视频文件取 mp4 mkv mov flv）</source>
        <translation> (--format takes mp3 aac m4a for audio files, mp4 mkv mov flv for video files)</translation>
    </message>
    <message>
        <source>没有可以读取的声音</source>
        <translation>has no sound that can be read</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>无法读取波形</source>
        <translation>the waveform could not be read</translation>
    </message>
    <message>
        <source>降噪失败，没有留下结果（磁盘满了吗？详情见 %1）</source>
        <translation>the denoiser failed and left no result (is the disk full? details in %1)</translation>
    </message>
    <message>
        <source>无法写入录音（磁盘满了吗？）；已录下的内容保存在 %1</source>
        <translation>the recording could not be written (is the disk full?); what was recorded is kept in %1</translation>
    </message>
    <message>
        <source>录音设备已不在；已录下的内容保存在 %1</source>
        <translation>the recording device went away; what was recorded is kept in %1</translation>
    </message>
    <message>
        <source>声音服务器没有应答；已录下的内容保存在 %1</source>
        <translation>the sound server stopped answering; what was recorded is kept in %1</translation>
    </message>
    <message>
        <source>无法编码录音；已录下的内容保存在 %1</source>
        <translation>the recording could not be encoded; what was recorded is kept in %1</translation>
    </message>
    <message>
        <source>无法完成录音</source>
        <translation>the recording could not be finished</translation>
    </message>
    <message>
        <source>已中断：正在结束 %1 个运行中的任务</source>
        <translation>interrupted: ending %1 running job(s)</translation>
    </message>
    <message>
        <source>未开始（已中断）</source>
        <translation>not started (interrupted)</translation>
    </message>
    <message>
        <source>已中断，未完成的结果已删除</source>
        <translation>interrupted, partial output removed</translation>
    </message>
    <message>
        <source>降噪程序无法打开该文件或其结果（详情见 %1）</source>
        <translation>the denoiser could not open the file or its result (details in %1)</translation>
    </message>
    <message>
        <source>录音</source>
        <translation>recording</translation>
    </message>
    <message>
        <source>降噪只处理 mp4 flv avi wmv mov mkv 3gp mp3 aac wma ogg m4a flac wav 文件（扩展名全为小写或全为大写）</source>
        <translation>the denoiser takes mp4 flv avi wmv mov mkv 3gp mp3 aac wma ogg m4a flac wav files (all lower or all upper case)</translation>
    </message>
    <message>
        <source>无法写入输出文件夹 %1：%2</source>
        <translation>cannot write to the output folder %1: %2</translation>
    </message>
    <message>
        <source>无法启动转码程序 &apos;%1&apos;（是否已安装 ffmpeg？）</source>
        <translation>cannot start the transcoder &apos;%1&apos; (is ffmpeg installed?)</translation>
    </message>
    <message>
        <source>（转码程序的输出见 %1）</source>
        <translation> (its output is in %1)</translation>
    </message>
    <message>
        <source>转码程序报告成功，但没有写出结果</source>
        <translation>the transcoder reported success but wrote no result</translation>
    </message>
    <message>
        <source>合并 %1 个文件</source>
        <translation>merge of %1 files</translation>
    </message>
</context>
<context>
    <name>Commands</name>
    <message>
        <source>淡入超出了文件的长度(%1 秒)!</source>
        <translation>The fade-in goes past the end of the file (%1 s)!</translation>
    </message>
    <message>
        <source>淡出超出了文件的长度(%1 秒)!</source>
        <translation>The fade-out goes past the end of the file (%1 s)!</translation>
    </message>
    <message>
        <source>请添加要合并的音频文件!</source>
        <translation>Please add the audio files to merge!</translation>
    </message>
    <message>
        <source>至少需要添加2个音频文件!</source>
        <translation>Please add at least 2 audio files!</translation>
    </message>
    <message>
        <source>淡入起始位置不能为空!</source>
        <translation>Please enter where the fade-in starts!</translation>
    </message>
    <message>
        <source>淡入起始位置只能输入数字!</source>
        <translation>The fade-in start takes digits only!</translation>
    </message>
    <message>
        <source>淡入时长不能为空!</source>
        <translation>Please enter the length of the fade-in!</translation>
    </message>
    <message>
        <source>淡入时长只能输入数字!</source>
        <translation>The fade-in length takes digits only!</translation>
    </message>
    <message>
        <source>淡出起始位置不能为空!</source>
        <translation>Please enter where the fade-out starts!</translation>
    </message>
    <message>
        <source>淡出起始位置只能输入数字!</source>
        <translation>The fade-out start takes digits only!</translation>
    </message>
    <message>
        <source>淡出时长不能为空!</source>
        <translation>Please enter the length of the fade-out!</translation>
    </message>
    <message>
        <source>淡出时长只能输入数字!</source>
        <translation>The fade-out length takes digits only!</translation>
    </message>
    <message>
        <source>无法使用该背景音乐文件:%1</source>
        <translation>This background music file cannot be used: %1</translation>
    </message>
    <message>
        <source>请先选择背景音乐文件!</source>
        <translation>Please choose the background music first!</translation>
    </message>
    <message>
        <source>起始位置只能输入数字!</source>
        <translation>The start takes digits only!</translation>
    </message>
    <message>
        <source>起始位置应在 0 到 86400 秒之间!</source>
        <translation>The start must lie between 0 and 86400 seconds!</translation>
    </message>
    <message>
        <source>命令超出系统长度限制,请减少文件数量或缩短路径!</source>
        <translation>The command is too long for the system; use fewer files or shorter paths!</translation>
    </message>
    <message>
        <source>输出格式无效!</source>
        <translation>Invalid output format!</translation>
    </message>
    <message>
        <source>速度倍数无效!</source>
        <translation>Invalid speed factor!</translation>
    </message>
    <message>
        <source>速度为1.0倍,结果会与源文件相同!</source>
        <translation>The speed is 1.0×: the result would be the same as the source!</translation>
    </message>
    <message>
        <source>音量为1.0倍且没有淡入淡出,结果会与源文件相同!</source>
        <translation>The volume is 1.0× with no fade: the result would be the same as the source!</translation>
    </message>
    <message>
        <source>起始位置超出了文件的长度(%1 秒)!</source>
        <translation>The start is past the end of the file (%1 s)!</translation>
    </message>
    <message>
        <source>单声道音频没有伴奏可提取!</source>
        <translation>A mono file has no accompaniment to extract!</translation>
    </message>
</context>
<context>
    <name>ConvertListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>转换失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>转 换</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>ConvertPage</name>
    <message>
        <source>正在处理中!</source>
        <translation>Still working on it!</translation>
    </message>
</context>
<context>
    <name>ConvertPopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>取消任务</source>
        <translation>Cancel job</translation>
    </message>
</context>
<context>
    <name>ConvertQueue</name>
    <message>
        <source>请先添加要转换的文件!</source>
        <translation>Please add the files to convert first!</translation>
    </message>
    <message>
        <source>一键转换</source>
        <translation>Convert all</translation>
    </message>
    <message>
        <source>转换中</source>
        <translation>Converting</translation>
    </message>
    <message>
        <source>压 缩</source>
        <translation>Retry</translation>
    </message>
</context>
<context>
    <name>CutPage</name>
    <message>
        <source>全部(*.*)</source>
        <translation>All files (*.*)</translation>
    </message>
    <message>
        <source>音频文件(%1)</source>
        <translation>Audio files (%1)</translation>
    </message>
    <message>
        <source>视频文件(%1)</source>
        <translation>Video files (%1)</translation>
    </message>
    <message>
        <source>没有声音设备，请插入耳机!</source>
        <translation>No sound device; please plug in headphones!</translation>
    </message>
    <message>
        <source>该文件无法播放!</source>
        <translation>This file cannot be played!</translation>
    </message>
    <message>
        <source>请拖动选择剪辑区域!</source>
        <translation>Please drag the markers to select a stretch!</translation>
    </message>
    <message>
        <source>请先添加要剪辑的文件!</source>
        <translation>Please add the file to cut first!</translation>
    </message>
    <message>
        <source>开始时间格式错误!</source>
        <translation>The start time is not a valid time!</translation>
    </message>
    <message>
        <source>结束时间格式错误!</source>
        <translation>The end time is not a valid time!</translation>
    </message>
    <message>
        <source>请选取要截取位置!</source>
        <translation>Please choose the stretch to cut!</translation>
    </message>
    <message>
        <source>开始时间超出文件长度!</source>
        <translation>The start time is past the end of the file!</translation>
    </message>
    <message>
        <source>结束时间超出文件长度!</source>
        <translation>The end time is past the end of the file!</translation>
    </message>
    <message>
        <source>开始时间必须早于结束时间!</source>
        <translation>The start time must come before the end time!</translation>
    </message>
</context>
<context>
    <name>CutPopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>添加到格式转换</source>
        <translation>Add to Convert</translation>
    </message>
    <message>
        <source>添加到音频变速</source>
        <translation>Add to Speed</translation>
    </message>
    <message>
        <source>添加到音频降噪</source>
        <translation>Add to Denoise</translation>
    </message>
    <message>
        <source>添加到音量调整</source>
        <translation>Add to Volume</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>删除文件</source>
        <translation>Delete file</translation>
    </message>
    <message>
        <source>取消任务</source>
        <translation>Cancel job</translation>
    </message>
</context>
<context>
    <name>DownloadDialog</name>
    <message>
        <source>升级下载</source>
        <translation>Downloading update</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ExtractListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>提 取</source>
        <translation>Extract</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>ExtractPopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>取消任务</source>
        <translation>Cancel job</translation>
    </message>
</context>
<context>
    <name>FailureReason</name>
    <message>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>未开始</source>
        <translation>Not started</translation>
    </message>
    <message>
        <source>缺少转码程序</source>
        <translation>No transcoder</translation>
    </message>
    <message>
        <source>无法开始处理</source>
        <translation>Could not start</translation>
    </message>
    <message>
        <source>文件不存在</source>
        <translation>File not found</translation>
    </message>
    <message>
        <source>这是文件夹</source>
        <translation>Is a folder</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>Not a regular file</translation>
    </message>
    <message>
        <source>文件无法打开</source>
        <translation>Cannot open file</translation>
    </message>
    <message>
        <source>受保护的格式</source>
        <translation>Protected format</translation>
    </message>
    <message>
        <source>文件无法读取</source>
        <translation>Unreadable file</translation>
    </message>
    <message>
        <source>没有时长</source>
        <translation>No duration</translation>
    </message>
    <message>
        <source>没有声音</source>
        <translation>No sound</translation>
    </message>
    <message>
        <source>不支持此格式</source>
        <translation>Unsupported format</translation>
    </message>
    <message>
        <source>磁盘已满</source>
        <translation>Disk full</translation>
    </message>
    <message>
        <source>文件名过长</source>
        <translation>Name too long</translation>
    </message>
    <message>
        <source>无法写入目录</source>
        <translation>Folder not writable</translation>
    </message>
    <message>
        <source>无法写入结果</source>
        <translation>Cannot write result</translation>
    </message>
    <message>
        <source>结果不完整</source>
        <translation>Incomplete result</translation>
    </message>
    <message>
        <source>处理失败</source>
        <translation>Failed</translation>
    </message>
</context>
<context>
    <name>FeedbackDialog</name>
    <message>
        <source>意见反馈</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>反馈内容</source>
        <translation>Your feedback</translation>
    </message>
    <message>
        <source>请描述您遇到的问题或建议</source>
        <translation>Describe the problem you met or your suggestion</translation>
    </message>
    <message>
        <source>联系方式</source>
        <translation>Contact</translation>
    </message>
    <message>
        <source>QQ、微信、邮箱或电话</source>
        <translation>E-mail, phone, QQ or WeChat</translation>
    </message>
    <message>
        <source>联系我们</source>
        <translation>Contact us</translation>
    </message>
    <message>
        <source>提交</source>
        <translation>Send</translation>
    </message>
</context>
<context>
    <name>FileList</name>
    <message>
        <source>全部格式(%1;%2)</source>
        <translation>All supported files (%1;%2)</translation>
    </message>
    <message>
        <source>音频文件(%1)</source>
        <translation>Audio files (%1)</translation>
    </message>
    <message>
        <source>支持格式(%1)</source>
        <translation>Supported files (%1)</translation>
    </message>
    <message>
        <source>音视频文件(%1)</source>
        <translation>Audio and video files (%1)</translation>
    </message>
    <message>
        <source>以下文件未能添加:</source>
        <translation>These files were not added:</translation>
    </message>
    <message>
        <source>
等%1个文件</source>
        <translation>
%1 files in all</translation>
    </message>
</context>
<context>
    <name>FileOpener</name>
    <message>
        <source>文件不存在</source>
        <translation>does not exist</translation>
    </message>
    <message>
        <source>是文件夹</source>
        <translation>is a folder</translation>
    </message>
    <message>
        <source>无法读取</source>
        <translation>cannot be read</translation>
    </message>
    <message>
        <source>不是音频或视频文件</source>
        <translation>is not an audio or video file</translation>
    </message>
    <message>
        <source>以下文件无法打开:</source>
        <translation>These files cannot be opened:</translation>
    </message>
    <message>
        <source>
还有 %1 个文件</source>
        <translation>
and %1 more</translation>
    </message>
</context>
<context>
    <name>FramelessWindow</name>
    <message>
        <source>还原</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>最大化</source>
        <translation>Maximize</translation>
    </message>
</context>
<context>
    <name>LaunchArguments</name>
    <message>
        <source>tunewell：未知选项 %1
</source>
        <translation>tunewell: unknown option %1
</translation>
    </message>
    <message>
        <source>用法：tunewell [FILE...]
      tunewell -- FILE...
打开 Tunewell 窗口。一个音频或视频文件在剪辑页打开，多个文件加入格式转换页的列表；
Tunewell 已在运行时，把它的窗口带到前面。
  -h, --help   显示本帮助
  --version    显示版本
以 &apos;-&apos; 开头的文件名请放在 &apos;--&apos; 之后。
</source>
        <translation>Usage: tunewell [FILE...]
       tunewell -- FILE...
Opens the Tunewell window. One audio or video file opens on the cut page, several files
on the convert page&apos;s list; a running Tunewell is brought to the front.
  -h, --help   show this help
  --version    show the version
Put &apos;--&apos; before file names that start with &apos;-&apos;.
</translation>
    </message>
</context>
<context>
    <name>ListRows</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>等待中</source>
        <translation>Waiting</translation>
    </message>
</context>
<context>
    <name>MainTaskMenu</name>
    <message>
        <source>显示主界面</source>
        <translation>Show window</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>意见反馈</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>检查更新</source>
        <translation>Check for updates</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>TWL音频剪辑</source>
        <translation>Tunewell</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>反馈</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>菜单</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>音频剪辑</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>录音</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>格式转换</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>音频合并</source>
        <translation>Merge</translation>
    </message>
    <message>
        <source>音频变速</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>音频提取</source>
        <translation>Extract</translation>
    </message>
    <message>
        <source>音频降噪</source>
        <translation>Denoise</translation>
    </message>
    <message>
        <source>音量调整</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>背景音乐</source>
        <translation>Background music</translation>
    </message>
    <message>
        <source>添加文件</source>
        <translation>Add files</translation>
    </message>
    <message>
        <source>尚未添加文件</source>
        <translation>No file added yet</translation>
    </message>
    <message>
        <source>后退15秒</source>
        <translation>Back 15 s</translation>
    </message>
    <message>
        <source>播放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>前进15秒</source>
        <translation>Forward 15 s</translation>
    </message>
    <message>
        <source>试听开头</source>
        <translation>Play start</translation>
    </message>
    <message>
        <source>试听选区</source>
        <translation>Play selection</translation>
    </message>
    <message>
        <source>试听结尾</source>
        <translation>Play end</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>开始时间</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>设为开始</source>
        <translation>Set start</translation>
    </message>
    <message>
        <source>结束时间</source>
        <translation>End</translation>
    </message>
    <message>
        <source>设为结束</source>
        <translation>Set end</translation>
    </message>
    <message>
        <source>剪辑选区</source>
        <translation>Cut selection</translation>
    </message>
    <message>
        <source>剪辑结果</source>
        <translation>Cut result</translation>
    </message>
    <message>
        <source>开始录音</source>
        <translation>Start recording</translation>
    </message>
    <message>
        <source>暂停录音</source>
        <translation>Pause recording</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>录音来源</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>系统声音和麦克风</source>
        <translation>System and microphone</translation>
    </message>
    <message>
        <source>仅麦克风</source>
        <translation>Microphone only</translation>
    </message>
    <message>
        <source>仅系统声音</source>
        <translation>System sound only</translation>
    </message>
    <message>
        <source>麦克风</source>
        <translation>Microphone</translation>
    </message>
    <message>
        <source>降噪</source>
        <translation>Noise reduction</translation>
    </message>
    <message>
        <source>自动增益</source>
        <translation>Automatic gain</translation>
    </message>
    <message>
        <source>音质</source>
        <translation>Quality</translation>
    </message>
    <message>
        <source>增益强度</source>
        <translation>Gain</translation>
    </message>
    <message>
        <source>麦克风音量</source>
        <translation>Microphone volume</translation>
    </message>
    <message>
        <source>系统音量</source>
        <translation>System volume</translation>
    </message>
    <message>
        <source>录音文件</source>
        <translation>Recordings</translation>
    </message>
    <message>
        <source>清空列表</source>
        <translation>Clear list</translation>
    </message>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>一键转换</source>
        <translation>Convert all</translation>
    </message>
    <message>
        <source>输出格式</source>
        <translation>Output format</translation>
    </message>
    <message>
        <source>声道</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>原始声道</source>
        <translation>As source</translation>
    </message>
    <message>
        <source>双声道</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>单声道</source>
        <translation>Mono</translation>
    </message>
    <message>
        <source>采样率</source>
        <translation>Sample rate</translation>
    </message>
    <message>
        <source>原始采样率</source>
        <translation>As source</translation>
    </message>
    <message>
        <source>比特率</source>
        <translation>Bit rate</translation>
    </message>
    <message>
        <source>原始比特率</source>
        <translation>As source</translation>
    </message>
    <message>
        <source>打开目录</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>开始合并</source>
        <translation>Merge</translation>
    </message>
    <message>
        <source>播放速度</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>0.5倍</source>
        <translation>0.5×</translation>
    </message>
    <message>
        <source>0.75倍</source>
        <translation>0.75×</translation>
    </message>
    <message>
        <source>1.0倍</source>
        <translation>1.0×</translation>
    </message>
    <message>
        <source>1.25倍</source>
        <translation>1.25×</translation>
    </message>
    <message>
        <source>1.5倍</source>
        <translation>1.5×</translation>
    </message>
    <message>
        <source>2.0倍</source>
        <translation>2.0×</translation>
    </message>
    <message>
        <source>自定义速度</source>
        <translation>Custom speed</translation>
    </message>
    <message>
        <source>提取方式</source>
        <translation>Extract</translation>
    </message>
    <message>
        <source>提取视频中的声音</source>
        <translation>The sound of a video</translation>
    </message>
    <message>
        <source>提取伴奏(消除人声)</source>
        <translation>The accompaniment (remove vocals)</translation>
    </message>
    <message>
        <source>降噪强度</source>
        <translation>Strength</translation>
    </message>
    <message>
        <source>轻度</source>
        <translation>Light</translation>
    </message>
    <message>
        <source>中度</source>
        <translation>Medium</translation>
    </message>
    <message>
        <source>强力</source>
        <translation>Strong</translation>
    </message>
    <message>
        <source>音频输出</source>
        <translation>Audio output</translation>
    </message>
    <message>
        <source>视频输出</source>
        <translation>Video output</translation>
    </message>
    <message>
        <source>淡入</source>
        <translation>Fade in</translation>
    </message>
    <message>
        <source>开始于</source>
        <translation>Starts at</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>时长</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>淡出</source>
        <translation>Fade out</translation>
    </message>
    <message>
        <source>请选择背景音乐文件</source>
        <translation>Choose the background music</translation>
    </message>
    <message>
        <source>选择音乐</source>
        <translation>Choose music</translation>
    </message>
    <message>
        <source>音乐音量</source>
        <translation>Music volume</translation>
    </message>
    <message>
        <source>延迟</source>
        <translation>Delay</translation>
    </message>
    <message>
        <source>循环播放至结束</source>
        <translation>Loop to the end</translation>
    </message>
    <message>
        <source>最大化</source>
        <translation>Maximize</translation>
    </message>
    <message>
        <source>拖动查看放大后的波形</source>
        <translation>Drag to scroll the zoomed waveform</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>放大波形（滚轮，Ctrl+=）</source>
        <translation>Zoom in (wheel, Ctrl+=)</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>缩小波形（滚轮，Ctrl+-）</source>
        <translation>Zoom out (wheel, Ctrl+-)</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>显示整个文件（Ctrl+0）</source>
        <translation>Show the whole file (Ctrl+0)</translation>
    </message>
    <message>
        <source>VBR(可变比特率)</source>
        <translation>VBR (variable bit rate)</translation>
    </message>
    <message>
        <source>全部开始</source>
        <translation>Start all</translation>
    </message>
</context>
<context>
    <name>MediaHelpers</name>
    <message>
        <source>仅保留了第 %1 条音轨（共 %2 条）</source>
        <translation>kept sound track %1 of %2</translation>
    </message>
</context>
<context>
    <name>MergeListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>上移</source>
        <translation>Move up</translation>
    </message>
    <message>
        <source>下移</source>
        <translation>Move down</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>MergePopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
</context>
<context>
    <name>MessageBoxDialog</name>
    <message>
        <source>信息提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>NoiseListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>降 噪</source>
        <translation>Denoise</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>NoisePopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>取消任务</source>
        <translation>Cancel job</translation>
    </message>
</context>
<context>
    <name>Page</name>
    <message>
        <source>确定要删除吗?</source>
        <translation>Delete this file?</translation>
    </message>
    <message>
        <source>没有需要处理的文件!</source>
        <translation>There are no files left to process!</translation>
    </message>
    <message>
        <source>处理中</source>
        <translation>Working</translation>
    </message>
    <message>
        <source>全部开始</source>
        <translation>Start all</translation>
    </message>
    <message>
        <source>请先添加要处理的文件!</source>
        <translation>Please add the files to process first!</translation>
    </message>
</context>
<context>
    <name>PromptBoxDialog</name>
    <message>
        <source>信息提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>RecordPage</name>
    <message>
        <source>未启用音频输出设备!</source>
        <translation>No sound output device is enabled!</translation>
    </message>
    <message>
        <source>请先插入麦克风设备!</source>
        <translation>Please plug in a microphone first!</translation>
    </message>
    <message>
        <source>没有插入麦克风设备,仅录系统声音</source>
        <translation>No microphone plugged in; recording the system sound only</translation>
    </message>
    <message>
        <source>音频设备出错!</source>
        <translation>The sound device failed!</translation>
    </message>
    <message>
        <source>录音文件写入失败,录音已停止!</source>
        <translation>The recording could not be written and has stopped!</translation>
    </message>
    <message>
        <source>声音服务器没有应答,录音已停止!</source>
        <translation>The sound server stopped answering; the recording has stopped!</translation>
    </message>
    <message>
        <source>录音无法编码,录音已停止!</source>
        <translation>The recording could not be encoded and has stopped!</translation>
    </message>
    <message>
        <source>已录下的内容保存在 %1</source>
        <translation>What was recorded is kept in %1</translation>
    </message>
    <message>
        <source>继续录音</source>
        <translation>Resume</translation>
    </message>
</context>
<context>
    <name>RecordPopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>删除文件</source>
        <translation>Delete file</translation>
    </message>
</context>
<context>
    <name>RecorderListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>剪 辑</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>Seting</name>
    <message>
        <source>系统设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>输出目录</source>
        <translation>Output folder</translation>
    </message>
    <message>
        <source>处理结果和录音保存在这里</source>
        <translation>Results and recordings are saved here</translation>
    </message>
    <message>
        <source>更改目录</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>打开目录</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>MP3 音质</source>
        <translation>MP3 quality</translation>
    </message>
    <message>
        <source>标准音质（128kbps）</source>
        <translation>Standard (128 kbps)</translation>
    </message>
    <message>
        <source>高音质（320kbps）</source>
        <translation>High (320 kbps)</translation>
    </message>
    <message>
        <source>点击关闭按钮时</source>
        <translation>When the close button is clicked</translation>
    </message>
    <message>
        <source>退出程序</source>
        <translation>Quit the program</translation>
    </message>
    <message>
        <source>最小化，不退出程序</source>
        <translation>Minimize, keep running</translation>
    </message>
    <message>
        <source>每项设置修改后立即生效</source>
        <translation>Every change takes effect at once</translation>
    </message>
    <message>
        <source>界面语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>As the system</translation>
    </message>
    <message>
        <source>下次启动时生效</source>
        <translation>Applies at the next start</translation>
    </message>
    <message>
        <source>同时处理任务数</source>
        <translation>Jobs at once</translation>
    </message>
    <message>
        <source>转换、变速、提取、降噪等任务同时进行的个数</source>
        <translation>How many convert, speed, extract, denoise and other jobs run at the same time</translation>
    </message>
</context>
<context>
    <name>SpeedListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>变 速</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>SpeedPage</name>
    <message>
        <source>1.0倍</source>
        <translation>1.0×</translation>
    </message>
    <message>
        <source>2.0倍</source>
        <translation>2.0×</translation>
    </message>
    <message>
        <source>倍</source>
        <translation>×</translation>
    </message>
</context>
<context>
    <name>SpeedPopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>取消任务</source>
        <translation>Cancel job</translation>
    </message>
</context>
<context>
    <name>UpgradeController</name>
    <message>
        <source>发现新版本啦!</source>
        <translation>A new version is available!</translation>
    </message>
    <message>
        <source>升级失败</source>
        <translation>The update failed</translation>
    </message>
    <message>
        <source>没有发现新版本!</source>
        <translation>You have the latest version!</translation>
    </message>
    <message>
        <source>网络错误!</source>
        <translation>Network error!</translation>
    </message>
    <message>
        <source>此版本没有更新服务。</source>
        <translation>This build has no update service.</translation>
    </message>
</context>
<context>
    <name>UrlOpener</name>
    <message>
        <source>无法打开帮助页面!</source>
        <translation>Cannot open the help page!</translation>
    </message>
</context>
<context>
    <name>UserManualDialog</name>
    <message>
        <source>使用指南</source>
        <translation>Guide</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>第 1 页</source>
        <translation>Page 1</translation>
    </message>
    <message>
        <source>第 2 页</source>
        <translation>Page 2</translation>
    </message>
    <message>
        <source>第 3 页</source>
        <translation>Page 3</translation>
    </message>
    <message>
        <source>第 4 页</source>
        <translation>Page 4</translation>
    </message>
    <message>
        <source>第 5 页</source>
        <translation>Page 5</translation>
    </message>
    <message>
        <source>第 6 页</source>
        <translation>Page 6</translation>
    </message>
    <message>
        <source>第 7 页</source>
        <translation>Page 7</translation>
    </message>
    <message>
        <source>下一张</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>音频剪辑：添加文件，拖动两个标记选出片段，试听后导出</source>
        <translation>Cut: add a file, drag the two markers around a stretch, listen, export</translation>
    </message>
    <message>
        <source>录音：选择声音来源，可开启降噪和自动增益，录成 MP3</source>
        <translation>Record: choose the source, add noise reduction or gain, get an MP3</translation>
    </message>
    <message>
        <source>格式转换：选好格式、声道、采样率和比特率，一键转换</source>
        <translation>Convert: pick format, channels, sample rate, bit rate; convert all</translation>
    </message>
    <message>
        <source>音频合并：用上下箭头排好顺序，把多个文件合成一个</source>
        <translation>Merge: put the files in order with the arrows, join them into one</translation>
    </message>
    <message>
        <source>音频变速：加快或放慢播放速度，音调保持不变</source>
        <translation>Speed: play faster or slower, the pitch stays the same</translation>
    </message>
    <message>
        <source>音频降噪：去除音频和视频里持续的背景噪声</source>
        <translation>Denoise: remove steady background noise from audio and video</translation>
    </message>
    <message>
        <source>背景音乐：选一首音乐，调好音量和延迟，混在声音下面</source>
        <translation>Background music: choose music, set level and delay, mix it in</translation>
    </message>
</context>
<context>
    <name>VideoListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>导 出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>VolumeListContainerElement</name>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>调 整</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>更多</source>
        <translation>More</translation>
    </message>
</context>
<context>
    <name>VolumePage</name>
    <message>
        <source>静音</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>1.0倍</source>
        <translation>1.0×</translation>
    </message>
    <message>
        <source>2.0倍</source>
        <translation>2.0×</translation>
    </message>
    <message>
        <source>倍</source>
        <translation>×</translation>
    </message>
</context>
<context>
    <name>VolumePopMenu</name>
    <message>
        <source>打开输出目录</source>
        <translation>Open output folder</translation>
    </message>
    <message>
        <source>从列表移除</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>取消任务</source>
        <translation>Cancel job</translation>
    </message>
</context>
<context>
    <name>tw::CMainWnd</name>
    <message>
        <source>TWL音频剪辑</source>
        <translation>Tunewell</translation>
    </message>
    <message>
        <source>正在加载波形...</source>
        <translation>Loading the waveform...</translation>
    </message>
    <message>
        <source>还有%1个任务正在进行,确定要退出吗?</source>
        <translation>%1 jobs are still running. Quit anyway?</translation>
    </message>
</context>
<context>
    <name>tw::FeedbackDialog</name>
    <message>
        <source>此版本没有反馈服务。</source>
        <translation>This build has no feedback service.</translation>
    </message>
    <message>
        <source>反馈信息已提交!</source>
        <translation>Thank you, your feedback was sent!</translation>
    </message>
    <message>
        <source>未知错误</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>网络错误!</source>
        <translation>Network error!</translation>
    </message>
    <message>
        <source>反馈内容不能为空!</source>
        <translation>Please write your feedback!</translation>
    </message>
    <message>
        <source>联系方式不能为空!</source>
        <translation>Please give a way to contact you!</translation>
    </message>
</context>
<context>
    <name>tw::SetingDialog</name>
    <message>
        <source>设置保存失败!</source>
        <translation>The setting could not be saved!</translation>
    </message>
    <message>
        <source>选择保存目录</source>
        <translation>Choose the output folder</translation>
    </message>
    <message>
        <source>该目录没有写入权限!</source>
        <translation>You may not write to this folder!</translation>
    </message>
    <message>
        <source>该目录路径过长!</source>
        <translation>The folder&apos;s path is too long!</translation>
    </message>
    <message>
        <source>目录名不能包含换行!</source>
        <translation>A folder name cannot hold a line break!</translation>
    </message>
    <message>
        <source>目录名不能以空格结尾!</source>
        <translation>A folder name cannot end with a space!</translation>
    </message>
    <message>
        <source>该目录不存在!</source>
        <translation>The folder does not exist!</translation>
    </message>
    <message>
        <source>无法打开该目录!</source>
        <translation>Cannot open the folder!</translation>
    </message>
</context>
</TS>
