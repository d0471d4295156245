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
    <name>ConvertPopMenu</name>
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
        <translation>TWL Audio Editor</translation>
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
        <translation>Selection</translation>
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
        <translation>System sound and microphone</translation>
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
    <name>SpeedPopMenu</name>
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
    <name>VolumePopMenu</name>
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
    <name>tw::CMainWnd</name>
    <message>
        <source>TWL音频剪辑</source>
        <translation>TWL Audio Editor</translation>
    </message>
    <message>
        <source>正在加载波形...</source>
        <translation>Loading the waveform...</translation>
    </message>
</context>
<context>
    <name>tw::FeedbackDialog</name>
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
