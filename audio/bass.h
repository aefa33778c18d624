// The audio library as pcmtap sees it: eight functions, the recording
// callback and the flag values the program passes and reads.  The front end
// includes nothing else from the audio side.
#ifndef PCMTAP_AUDIO_BASS_H
#define PCMTAP_AUDIO_BASS_H

#include <stdint.h>

#ifdef _WIN32
// Linked into the program, not imported from a DLL; the calling convention
// stays the Windows API's.
#define BASSDEF(type) type __stdcall
#ifndef CALLBACK
#define CALLBACK __stdcall
#endif
#else
#define BASSDEF(type) type
#define CALLBACK
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
// The Windows API's own, so that this header and windows.h can meet.
typedef unsigned long DWORD;
typedef int BOOL;
#else
typedef uint32_t DWORD;
typedef int32_t BOOL;
#endif
typedef DWORD HRECORD;

// Input flags word returned by BASS_RecordGetInput.
#define BASS_INPUT_OFF 0x00010000u       // the input is switched off
#define BASS_INPUT_TYPE_MASK 0xFF000000u // the input's type code

#define BASS_INPUT_TYPE_UNDEF 0x00000000u
#define BASS_INPUT_TYPE_DIGITAL 0x01000000u
#define BASS_INPUT_TYPE_LINE 0x02000000u
#define BASS_INPUT_TYPE_MIC 0x03000000u
#define BASS_INPUT_TYPE_SYNTH 0x04000000u
#define BASS_INPUT_TYPE_CD 0x05000000u
#define BASS_INPUT_TYPE_PHONE 0x06000000u
#define BASS_INPUT_TYPE_SPEAKER 0x07000000u
#define BASS_INPUT_TYPE_WAVE 0x08000000u
#define BASS_INPUT_TYPE_AUX 0x09000000u
#define BASS_INPUT_TYPE_ANALOG 0x0A000000u

// Settings for BASS_RecordSetInput.
#define BASS_INPUT_SET_OFF 0x00010000u
#define BASS_INPUT_SET_ON 0x00020000u

// Receives each recorded block on the library's own thread, one block at a
// time and in recording order.  Returning zero stops the recording.
//
// When recording ends by itself (the device failed or went away), the
// library first delivers everything it had captured, says why on standard
// error, and then calls the callback once more with a null buffer and a
// length of zero.  No call follows that one.
typedef BOOL(CALLBACK RECORDPROC)(HRECORD handle, const void *buffer,
                                  DWORD length, void *user);

// Opens the default recording device (device -1).  Nonzero on success.
BASSDEF(BOOL) BASS_RecordInit(int device);
// Checks that the default output device (device -1) can be used.  Nothing is
// ever played.  Nonzero on success.
BASSDEF(BOOL)
BASS_Init(int device, DWORD freq, DWORD flags, void *window, void *clsid);
// The name of input `input`, or null past the last input.
BASSDEF(const char *) BASS_RecordGetInputName(int input);
// The flags word of input `input`; zero past the last input.
BASSDEF(DWORD) BASS_RecordGetInput(int input);
// Switches input `input` off or on.  Zero when not applied.
BASSDEF(BOOL) BASS_RecordSetInput(int input, DWORD setting);
// Starts recording and returns at once; zero when recording cannot start.
// `flags` 0 asks for 16-bit samples.
BASSDEF(HRECORD)
BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC *proc,
                 void *user);
// Delivers what the device had already captured, then stops recording and
// closes the recording device.  No callback runs after it returns.
BASSDEF(BOOL) BASS_RecordFree(void);
// Releases the output side.
BASSDEF(BOOL) BASS_Free(void);

#ifdef __cplusplus
}
#endif

#endif
