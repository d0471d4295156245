// The producers of a recording. MicCaptureThread reads the default source (optionally
// through noise suppression and gain control at 32 kHz) into the recorder's micFifo;
// LoopbackCaptureThread records the monitor of the default sink into systemFifo. Both are
// started by AudioRecorder::Start, end on its stopRequested, and are joined by its
// FinishThread. Each returns 0 on a normal end and -1 when it ends on an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tw {

class AudioRecorder;

// One audio input device (a source that is not a sink's monitor).
struct CaptureDeviceRecord {
  std::string friendlyName;  // the description, at most 127 bytes
  std::string displayName;   // the source name, at most 255 bytes
};

// Clears list and fills it in the server's order. 0, or -1 when the server cannot be asked.
int EnumAudioInputDevices(std::vector<CaptureDeviceRecord>& list);

struct PulseDeviceFacts;

// Opens the default microphone for the recorder (stream, conversion, micFifo). 0 or -1.
int OpenMicrophone(AudioRecorder* recorder);
// Records from mic from now on (its stream and conversion); the recorder's are kept when it
// cannot be opened. 0 or -1.
int UseMicrophone(AudioRecorder* recorder, const PulseDeviceFacts& mic);

// What a capture thread returns when it ends on the sound server no longer answering.
inline constexpr int kCaptureServerSilent = -2;

// Both follow the default device of their side when the desktop changes it.
int MicCaptureThread(AudioRecorder* recorder);
int LoopbackCaptureThread(AudioRecorder* recorder);

// True when every byte is zero: what a sink's monitor delivers while nothing plays.
bool IsDigitalSilence(const uint8_t* data, size_t bytes);

// text cut to at most maxBytes, never inside a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t maxBytes);

}  // namespace tw
