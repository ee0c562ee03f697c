/*
 * ravlin.h: everything a program calls of Ravlin, the game and multimedia
 * library: start-up and shut-down, the window and its message pump, the log,
 * the clocks, the file dialog, sounds, the screen, pictures (graphs), fonts and
 * string drawing, the keyboard and joypads, and the desktop's additions (files
 * handed over by later starts, media controls).
 *
 * Usable from C99 and C++; every operation has C linkage and takes and returns
 * only fixed-size values (int, uint32_t, int64_t, double, pointers), so that
 * other languages can bind to it. Operations return 0 on success and -1 on
 * failure unless their description says otherwise.
 *
 * Strings are byte strings in the program's encoding: Shift-JIS unless
 * SetStringEncoding(STRING_UTF8) was called before InitLibrary(). File names
 * are the file system's own bytes in either case.
 *
 * Zlib licence: see LICENSE.
 */
#ifndef RAVLIN_H
#define RAVLIN_H

#include <stdint.h>

/** \file ravlin.h
 * \brief The whole interface of Ravlin for programs.
 */

/** \defgroup version Version
 * The library's version "2.06b" as numbers: the letter counts as the patch
 * level (a = 1, b = 2). The shared library's file is named from them
 * (libravlin.so.2.6.2); its soname carries the major version alone
 * (libravlin.so.2), and only a release that breaks the interface (a declaration
 * removed or changed, a record's layout, a constant's value) raises it.
 * @{ */
#define RAVLIN_VERSION_MAJOR 2        /**< Major version; the shared library's soname number. */
#define RAVLIN_VERSION_MINOR 6        /**< Minor version: the "06" of "2.06b". */
#define RAVLIN_VERSION_PATCH 2        /**< Patch level: the letter of "2.06b" (a = 1, b = 2). */
#define RAVLIN_VERSION_TEXT "2.06b"   /**< The version as the library writes it in its log. */
/** @} */

/** \cond INTERNAL */
#if defined(__GNUC__) || defined(__clang__)
#define RAVLIN_API __attribute__((visibility("default")))
#define RAVLIN_PRINTF(formatIndex, firstIndex) __attribute__((format(printf, formatIndex, firstIndex)))
#else
#define RAVLIN_API
#define RAVLIN_PRINTF(formatIndex, firstIndex)
#endif

#ifdef __cplusplus
extern "C" {
#endif
/** \endcond */

/* ==== Start-up and shut-down ==================================================== */

/** \defgroup startup Start-up and shut-down
 * A program makes its configuration calls, then InitLibrary(), then runs its
 * frame loop around ProcessWindowMessages(), and ends with EndLibrary(). The
 * configuration calls only store values until InitLibrary() reads them.
 * @{ */

/** Encodings of the strings a program passes to the library and gets back. */
enum {
    STRING_SHIFT_JIS = 0,  /**< Shift-JIS (code page 932), the default. */
    STRING_UTF8 = 1,       /**< UTF-8. */
};

/** Chooses the encoding of every string the program passes to the library and
 * gets back from it: drawn texts and labels, font names, the window title, the
 * file dialog's title and filter, the log's texts and the log file itself
 * (written in that encoding). With STRING_UTF8 a character that Shift-JIS lacks
 * is drawn as itself when a face of the font has it; a malformed sequence draws
 * as one replacement character (U+FFFD).
 * \param encoding STRING_SHIFT_JIS or STRING_UTF8.
 * \return 0; -1 for another value, or once InitLibrary() has run (the encoding
 *         stays as it was). Logs nothing.
 * \mainthread */
RAVLIN_API int SetStringEncoding(int encoding);

/** The encoding chosen with SetStringEncoding().
 * Logs nothing.
 * \return STRING_SHIFT_JIS or STRING_UTF8.
 * \mainthread */
RAVLIN_API int GetStringEncoding(void);

/** Starts the library: the log file (emptied when the log is on), the system
 * report, the main window, input, the sound device and the screen, in that
 * order. A machine without a sound device still starts (the sound calls then
 * fail). The window is centred on the desktop with the client size of
 * SetScreenMode(); drawing goes to the visible screen (SCREEN_FRONT) until
 * SetDrawTarget() chooses another target.
 *
 * When the same program (by its executable's name) already runs on this
 * display, it ends this process with exit code 0, after handing over the file
 * of SetFileHandOver() if any (1 when the running instance did not take it).
 * Without the media layer it ends the process with -1 after an error box.
 * Logs each step, the system report first.
 * \return 0; -1 when the window, input or the screen could not be started
 *         (everything started is ended again and the log says which step failed).
 * \mainthread The thread that calls it is the library's thread: every later
 * call must come from it. */
RAVLIN_API int InitLibrary(void);

/** Ends the library: the screen, input and the sound device (every sound is
 * deleted), then the window; the current directory goes back to the one
 * InitLibrary() started in. Logs the steps.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int EndLibrary(void);

/** The library's version.
 * Logs nothing.
 * \return "2.06b" (RAVLIN_VERSION_TEXT); static text, never null.
 * \mainthread */
RAVLIN_API const char* GetLibraryVersion(void);

/** @} */

/* ==== Window and message pump ==================================================== */

/** \defgroup window Window and message pump
 * The library has one window. Its messages are handled inside
 * ProcessWindowMessages(), which a program calls once per frame; every wait of
 * the library pumps too. While the window is in the background the pump holds
 * the caller, so the whole program pauses there.
 * @{ */

/** Handles the window's pending messages (focus, close button, moves,
 * files dropped on it, the media controls). While the window is in the
 * background it waits, sleeping 1 ms at a time, until it is in front again or
 * the program is to end.
 * Logs only what a rebuild of the screen after a display change logs.
 * \return 0 to keep running; -1 once the program is to end (the window was
 *         closed), and on every call after that.
 * \mainthread */
RAVLIN_API int ProcessWindowMessages(void);

/** Sets the window's title, at once when the window exists; InitLibrary() uses
 * it otherwise ("Ravlin" when none was set).
 * \param title Text in the program's encoding, at most 255 bytes (longer titles
 *        are cut after the last whole character that fits); null is empty.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetWindowTitleText(const char* title);

/** Chooses a framed window (1) or the full screen (0). Before InitLibrary()
 * only stores the choice; after it the window's style changes and the screen
 * is built again (every graph is deleted). Logs the change.
 * \param flag 1 windowed, 0 full screen.
 * \return 0; after start-up the screen rebuild's result: -1 when the asked mode
 *         was refused and the old one is in force, -2 when the fallback
 *         640 x 480 x 16 is.
 * \mainthread */
RAVLIN_API int ChangeWindowMode(int flag);

/** Whether the window is windowed or full screen.
 * Logs nothing.
 * \return 1 windowed, 0 full screen (the value last given to ChangeWindowMode(); 1 before it).
 * \mainthread */
RAVLIN_API int GetWindowModeFlag(void);

/** Whether the window is in front (has the keyboard focus).
 * Logs nothing.
 * \return 1 in front, 0 in the background or without a window.
 * \mainthread */
RAVLIN_API int GetWindowActiveFlag(void);

/** The desktop's size and colour depth, as taken when the window was made.
 * \param width Receives the width in pixels; may be null.
 * \param height Receives the height in pixels; may be null.
 * \param colorBits Receives the bits per pixel (16, 24 or 32); may be null.
 * Logs nothing.
 * \return 0; -1 before InitLibrary() (nothing is written then).
 * \mainthread */
RAVLIN_API int GetDesktopSize(int* width, int* height, int* colorBits);

/** @} */

/* ==== Log ========================================================================= */

/** \defgroup log Log
 * "AppLog.txt" in the directory InitLibrary() started in, emptied at start-up.
 * Every text is appended with its own open and close, so the file is complete
 * even when the process dies right after; each text also goes to standard
 * error (in UTF-8). A tab per indentation level starts each new line; line
 * feeds are stored as CR LF. Nothing is written before InitLibrary().
 * @{ */

/** Switches the log file on (non-zero, the default) or off (0). Off, nothing is
 * written to the file or to standard error. Meant for before InitLibrary().
 * \param flag 0 off, anything else on.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetLogOutputEnabled(int flag);

/** Appends a text to the log as it is (no line end is added).
 * \param text Text in the program's encoding; null writes nothing.
 * Writes nothing before InitLibrary() or with the log off.
 * \return -1, always, so that an error path can report and fail in one step.
 * \mainthread */
RAVLIN_API int WriteLog(const char* text);

/** Formats a text as printf() does, adds a line end and appends it to the log.
 * \param format printf() format in the program's encoding; the formatted text is
 *        cut at 1022 bytes, after the last whole character that fits.
 * \param ... The format's arguments.
 * Writes nothing before InitLibrary() or with the log off.
 * \return -1, always.
 * \mainthread */
RAVLIN_API int WriteLogFormat(const char* format, ...) RAVLIN_PRINTF(1, 2);

/** One more tab at the start of each new log line (once the log file exists).
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int IncreaseLogIndent(void);

/** One tab less at the start of each new log line, never below none.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int DecreaseLogIndent(void);

/** @} */

/* ==== Clocks and waiting =========================================================== */

/** \defgroup timer Clocks and waiting
 * @{ */

/** Waits, pumping the window's messages all the while, so that the window
 * stays responsive; returns early once the program is to end.
 * \param milliseconds Time to wait in ms; 0 or less pumps once and returns.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int WaitMilliseconds(int milliseconds);

/** A monotonic clock.
 * Logs nothing.
 * \return Microseconds since an arbitrary origin fixed for the process.
 * \mainthread */
RAVLIN_API int64_t GetNowMicroseconds(void);

/** @} */

/* ==== File dialog ================================================================== */

/** \defgroup dialog File dialog
 * @{ */

/** Bytes of each of SelectFile()'s two buffers, terminator included. */
enum { SELECT_FILE_BUFFER_SIZE = 260 };

/** Asks the user for a file with the desktop's file dialog, and waits for the
 * answer (the window is not pumped meanwhile).
 * \param owner Not used; pass null.
 * \param mode 'g' asks for an existing file to open; 's' for a file to save
 *        (the dialog asks before an existing file is replaced); any other value
 *        returns 0 at once.
 * \param path Buffer of SELECT_FILE_BUFFER_SIZE bytes; receives the chosen file's
 *        absolute path in the file system's bytes, or an empty string when the
 *        path does not fit.
 * \param title Buffer of SELECT_FILE_BUFFER_SIZE bytes; receives the file's bare
 *        name in the file system's bytes.
 * \param dialogTitle The dialog's title, in the program's encoding.
 * \param filter Pairs of a display text (program's encoding) and a pattern
 *        ("*.ogg"), each zero-terminated, with one more zero byte at the end;
 *        null for none.
 * Logs nothing; a dialog that cannot be shown is said on standard error.
 * \return 1 on a confirmed choice: the current directory is then the file's
 *         folder, so the bare name opens it. 0 when the user cancelled, the
 *         chosen name is longer than the buffer, the window was closing, or a
 *         file arrived from the desktop meanwhile (the dialog closes; TakeOpenedFile()
 *         gives the file); -1 when the dialog could not be shown (the reason went
 *         to standard error). On 0 and -1 the buffers are left as they were.
 * \mainthread */
RAVLIN_API int SelectFile(void* owner, int mode, char* path, char* title, const char* dialogTitle, const char* filter);

/** Starts the dialog's toolkit in the background, so that a later SelectFile()
 * opens sooner. A program that will ask for a file calls it early, before
 * InitLibrary() say: the toolkit then starts once the main window is made
 * (never in a start that a running instance turns away). Logs nothing.
 * \mainthread */
RAVLIN_API void PrepareFileDialog(void);

/** A file name in the file system's bytes (UTF-8 on Linux) made into text to
 * draw in the program's encoding. In Shift-JIS a character the code page lacks
 * becomes '?'; in UTF-8 a malformed sequence becomes U+FFFD. The text is cut
 * after the last whole character that fits.
 * \param name The file name; null gives an empty text.
 * \param text Buffer for the text.
 * \param size Bytes of the buffer, terminator included; 0 or less writes nothing.
 * Logs nothing.
 * \return The text's length in bytes, without the terminator.
 * \mainthread */
RAVLIN_API int ConvertFileNameToText(const char* name, char* text, int size);

/** @} */

/* ==== Sound ======================================================================== */

/** \defgroup sound Sound
 * A sound is a whole file decoded into memory, named by a handle
 * (0x20000 + slot); -1 stands for no sound. Sounds play from memory, so a
 * looping sound costs no work of the program however long it is.
 * @{ */

/** Limits and play types. */
enum {
    MAX_SOUND_HANDLES = 512,  /**< Sounds that can exist at once. */
    PLAY_NORMAL = 0,          /**< Play once; PlaySoundHandle() returns when the sound has ended. */
    PLAY_BACK = 1,            /**< Play once in the background (any type but 0 and 3 does). */
    PLAY_LOOP = 3,            /**< Play endlessly in the background. */
};

/** Why the last LoadSoundFile() failed. */
enum {
    SOUND_LOAD_OK = 0,            /**< The last load worked. */
    SOUND_LOAD_NO_DEVICE,         /**< No sound output device is open. */
    SOUND_LOAD_NOT_FOUND,         /**< No such file. */
    SOUND_LOAD_NOT_ALLOWED,       /**< The file may not be read. */
    SOUND_LOAD_FOLDER,            /**< A folder, not a file. */
    SOUND_LOAD_EMPTY,             /**< The file holds nothing. */
    SOUND_LOAD_UNREADABLE,        /**< Reading it failed. */
    SOUND_LOAD_UNKNOWN_FORMAT,    /**< Not a sound format the library knows. */
    SOUND_LOAD_DAMAGED,           /**< A known format that cannot be decoded. */
    SOUND_LOAD_UNSUPPORTED_RATE,  /**< A sample rate the device cannot play. */
    SOUND_LOAD_TOO_LARGE,         /**< More sound than the device can hold. */
    SOUND_LOAD_DEVICE_REFUSED,    /**< The device gave no buffer for it. */
    SOUND_LOAD_CANCELLED,         /**< The window was closed while the sound was converted. */
};

/** Loads a whole sound file (RIFF WAVE, Ogg Vorbis, Ogg Opus, FLAC, MP3, and
 * AAC or ALAC in MP4 when the library is built with FFmpeg), recognised by its
 * content, never by its name, and decodes it into memory. Opus decodes at
 * 48000 Hz; every sound plays at its own rate until SetSoundHandleFrequency(). Logs nothing;
 * GetLastSoundLoadError() says why a load failed.
 * \param path The file's name in the file system's bytes (UTF-8 on Linux),
 *        relative to the current directory or absolute.
 * \return The new sound's handle; -1 when it cannot be loaded. Ends the program
 *         (exit code -1, after logging) when all MAX_SOUND_HANDLES are in use.
 * \mainthread */
RAVLIN_API int LoadSoundFile(const char* path);

/** Why the last LoadSoundFile() failed.
 * Logs nothing.
 * \return SOUND_LOAD_OK after a load that worked, else one of the SOUND_LOAD_ reasons.
 * \mainthread */
RAVLIN_API int GetLastSoundLoadError(void);

/** A sound holding a sine tone, made of whole periods so that PLAY_LOOP sounds
 * it without a seam (16-bit mono, 44100 Hz, a quarter of full scale).
 * \param frequency The tone in Hz, 1 to 22049 (moved a little to fit whole periods).
 * \param milliseconds Its length in ms, 1 to 60000.
 * Logs nothing; a device that refuses the sound's buffer ends the program (exit code -1, after logging).
 * \return The sound's handle; -1 without a sound device or for values out of range.
 * \mainthread */
RAVLIN_API int MakeToneSound(int frequency, int milliseconds);

/** Plays a sound. A sound that is already playing starts again from its
 * beginning.
 * \param handle The sound.
 * \param playType PLAY_NORMAL (waits for the end, pumping messages, and returns
 *        early when the program is to end), PLAY_LOOP, or PLAY_BACK.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound or when the device refuses.
 * \mainthread */
RAVLIN_API int PlaySoundHandle(int handle, int playType);

/** Stops a sound and rewinds it: the next play starts from its beginning.
 * \param handle The sound.
 * Logs nothing.
 * \return 0 (also when it was not playing); -1 for a handle that names no sound.
 * \mainthread */
RAVLIN_API int StopSoundHandle(int handle);

/** Whether a sound is playing.
 * \param handle The sound.
 * Logs nothing.
 * \return 1 playing, 0 not playing, -1 for a handle that names no sound.
 * \mainthread */
RAVLIN_API int IsSoundHandlePlaying(int handle);

/** Sets a sound's playback rate, speed and pitch together (as a tape does), at
 * once when it plays; the rate stays with the sound until the next call.
 * \param frequency Playback rate in Hz (22050 plays a 44100 Hz sound at half
 *        speed, an octave lower); -1 restores the sound's own rate. A rate the
 *        device refuses (see GetSoundDeviceMaxFrequency()) leaves the rate as it was.
 * \param handle The sound.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound.
 * \mainthread */
RAVLIN_API int SetSoundHandleFrequency(int frequency, int handle);

/** Stops and deletes a sound; its handle names no sound afterwards (and may be
 * given to the next sound made).
 * \param handle The sound.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound.
 * \mainthread */
RAVLIN_API int DeleteSoundHandle(int handle);

/** How long a sound plays once at its own rate.
 * \param handle The sound.
 * Logs nothing.
 * \return Microseconds; -1 for a handle that names no sound.
 * \mainthread */
RAVLIN_API int64_t GetSoundHandleMicroseconds(int handle);

/** The highest playback rate the sound device accepts.
 * Logs nothing.
 * \return Hz; -1 without a sound device.
 * \mainthread */
RAVLIN_API int GetSoundDeviceMaxFrequency(void);

/** Where a sound plays, or would go on from.
 * \param handle The sound.
 * Logs nothing.
 * \return Microseconds of the sound at its own rate (0 up to
 *         GetSoundHandleMicroseconds()), whatever rate it plays at; -1 for a
 *         handle that names no sound.
 * \mainthread */
RAVLIN_API int64_t GetSoundHandlePosition(int handle);

/** Moves a sound's position; a playing sound goes on from there.
 * \param microseconds Microseconds of the sound at its own rate; clamped to the sound.
 * \param handle The sound.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound or when the device refuses.
 * \mainthread */
RAVLIN_API int SetSoundHandlePosition(int64_t microseconds, int handle);

/** Stops a sound where it is: the next PlaySoundHandle() goes on from there
 * (StopSoundHandle() rewinds).
 * \param handle The sound.
 * Logs nothing.
 * \return 0 (also when it was not playing); -1 for a handle that names no sound.
 * \mainthread */
RAVLIN_API int PauseSoundHandle(int handle);

/** Sets a sound's own volume, heard as loudness: the gain is (volume / 100) cubed.
 * \param volume Percent, 0 to 100 (100 as recorded, the start).
 * \param handle The sound.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound or a volume outside 0 to 100.
 * \mainthread */
RAVLIN_API int SetSoundHandleVolume(int volume, int handle);

/** Chooses how SetSoundHandleFrequency() is heard: speed and pitch together,
 * as a tape (the mode a sound starts in), or the speed alone with the pitch
 * kept (the sound is time-stretched as it plays, streamed from a thread of
 * the library's own). The position, the play state, the rate and the loop
 * section carry over.
 * \param keepPitch 1 keeps the pitch, 0 the tape mode.
 * \param handle The sound.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound or when the device cannot.
 * \mainthread */
RAVLIN_API int SetSoundHandleKeepPitch(int keepPitch, int handle);

/** Moves a sound's pitch with its speed kept; heard in the keep-pitch mode only
 * (SetSoundHandleKeepPitch()).
 * \param semitones -12 to 12; 0 the sound's own pitch.
 * \param handle The sound.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound or a value out of range.
 * \mainthread */
RAVLIN_API int SetSoundHandlePitchSemitones(int semitones, int handle);

/** Sets the section PLAY_LOOP repeats; a play before the section runs into it.
 * Seamless in both modes.
 * \param start Microseconds of the sound at its own rate where the section begins.
 * \param end Where it ends (exclusive); -1 for the sound's end (start 0 and
 *        end -1: the whole sound).
 * \param handle The sound.
 * Logs nothing.
 * \return 0; -1 for a handle that names no sound, or a section that is empty
 *         or leaves the sound.
 * \mainthread */
RAVLIN_API int SetSoundHandleLoopSection(int64_t start, int64_t end, int handle);

/** @} */

/* ==== Screen ======================================================================== */

/** \defgroup screen Screen and drawing
 * Drawing goes to the draw target: the visible screen, the back surface, or a
 * graph. A program usually draws its frame into SCREEN_BACK and shows it with
 * PresentScreen(). Colours are packed in the screen's pixel format by
 * MakeColor(). Coordinates are pixels from the target's top-left corner;
 * rectangles include their left and top edges and exclude their right and
 * bottom edges.
 * @{ */

/** Draw-target ids. */
enum {
    SCREEN_FRONT = -4,  /**< The visible screen (the window's client area). */
    SCREEN_BACK = -2,   /**< The back surface that PresentScreen() shows. */
};

/** Sets the screen's size and colour depth. Before InitLibrary() only stores
 * the values. After it the screen is built again (every graph is deleted, the
 * draw target becomes SCREEN_FRONT); logs the steps. In a window the screen
 * takes the desktop's colour depth whatever is asked.
 * \param width Width in pixels, -1 keeps the current one (640 by default).
 * \param height Height in pixels, -1 keeps the current one (480 by default).
 * \param colorBits 8, 16 or 32 bits per pixel, -1 keeps the current (16 by default).
 * \param refreshRate Hz for the full screen, 0 the display's own, -1 keeps the current.
 * \return 0 when the asked mode is in force; -1 when the old mode is; -2 when the
 *         fallback 640 x 480 x 16 is.
 * \mainthread */
RAVLIN_API int SetScreenMode(int width, int height, int colorBits, int refreshRate);

/** The screen's size.
 * \param width Receives the width in pixels; may be null.
 * \param height Receives the height in pixels; may be null.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int GetScreenSize(int* width, int* height);

/** The screen's colour depth.
 * Logs nothing.
 * \return Bits per pixel: 8, 16 or 32 (after start-up the depth in force).
 * \mainthread */
RAVLIN_API int GetColorBitDepth(void);

/** Asks for the 3D device (1) or not (0). This library has no 3D device: the
 * screen is always drawn by the surfaces, and a change after start-up only
 * rebuilds the screen (every graph is deleted).
 * \param flag 1 use the 3D device if there is one, 0 never.
 * After start-up logs the rebuild.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetUse3D(int flag);

/** Whether PresentScreen() waits for the display's vertical blank (once per
 * call); InitLibrary() switches it on.
 * \param flag 1 wait, 0 do not.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetVSyncWait(int flag);

/** Chooses where drawing goes, and resets the draw area to the whole target.
 * \param id SCREEN_FRONT, SCREEN_BACK or a graph's handle (MakeGraph()).
 * Logs nothing.
 * \return 0; -1 before InitLibrary() or for an id that names nothing.
 * \mainthread */
RAVLIN_API int SetDrawTarget(int id);

/** The current draw target.
 * Logs nothing.
 * \return SCREEN_FRONT, SCREEN_BACK or a graph's handle.
 * \mainthread */
RAVLIN_API int GetDrawTarget(void);

/** Limits all drawing on the draw target to a rectangle. Corners given the
 * wrong way round are swapped; edges are kept inside the target. An empty
 * rectangle draws nothing until the area is set again.
 * \param x1 Left edge, pixels.
 * \param y1 Top edge, pixels.
 * \param x2 Right edge (excluded), pixels.
 * \param y2 Bottom edge (excluded), pixels.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetDrawArea(int x1, int y1, int x2, int y2);

/** Fills the whole draw target (whatever the draw area) with black (palette
 * index 0 on an 8-bit screen).
 * Logs nothing.
 * \return 0; -1 before InitLibrary() or when the target cannot be drawn on.
 * \mainthread */
RAVLIN_API int ClearDrawTarget(void);

/** Shows the back surface in the window, after waiting for the vertical blank
 * when SetVSyncWait() is on. With SCREEN_FRONT as the draw target it only
 * waits and pumps the window's messages once.
 * Logs nothing.
 * \return 0; -1 before InitLibrary(), or when the program is to end (SCREEN_FRONT only).
 * \mainthread */
RAVLIN_API int PresentScreen(void);

/** A colour packed in the screen's pixel format, for the drawing operations.
 * \param red Red, 0 to 255 (only the low 8 bits are used).
 * \param green Green, 0 to 255.
 * \param blue Blue, 0 to 255.
 * Logs nothing.
 * \return The packed value; on an 8-bit screen the nearest palette index.
 * \mainthread */
RAVLIN_API uint32_t MakeColor(int red, int green, int blue);

/** The red, green and blue of a packed colour, each 0 to 255.
 * \param color A value of MakeColor().
 * \param red Receives red; may be null.
 * \param green Receives green; may be null.
 * \param blue Receives blue; may be null.
 * Logs nothing.
 * \return 0; -1 for a palette index above 255 on an 8-bit screen.
 * \mainthread */
RAVLIN_API int GetColorComponents(uint32_t color, int* red, int* green, int* blue);

/** Draws a rectangle on the draw target, inside the draw area.
 * \param x1 Left edge, pixels.
 * \param y1 Top edge, pixels.
 * \param x2 Right edge (excluded), pixels.
 * \param y2 Bottom edge (excluded), pixels.
 * \param color A value of MakeColor().
 * \param fill 1 fills the rectangle, 0 draws its one-pixel outline.
 * Logs nothing.
 * \return 0 (also when nothing of it is inside the draw area); -1 before
 *         InitLibrary() or when the target cannot be drawn on.
 * \mainthread */
RAVLIN_API int DrawBox(int x1, int y1, int x2, int y2, uint32_t color, int fill);

/** @} */

/* ==== Graphs ======================================================================== */

/** \defgroup graph Graphs (off-screen pictures)
 * A graph is a picture of its own, named by a handle (0x10000 + slot), that
 * the program draws into (SetDrawTarget() with its handle) and then draws onto
 * another target with DrawGraph(). The library keeps up to 3000. A change of
 * screen mode deletes every graph; a display change in full screen keeps them
 * but loses their pixels (see SetGraphRestoreCallback()).
 * @{ */

/** Makes a graph, filled with black. Its transparent colour is the one set with
 * SetTransColor() (black by default).
 * \param width Width in pixels, 1 to 65535.
 * \param height Height in pixels, 1 to 65535.
 * \return The graph's handle; -1 before InitLibrary(), for a size out of range,
 *         or when the table is full (logged).
 * \mainthread */
RAVLIN_API int MakeGraph(int width, int height);

/** Deletes a graph; the draw target goes back to SCREEN_BACK when it was this
 * graph.
 * \param handle The graph.
 * Logs nothing.
 * \return 0; -1 for a handle that names no graph.
 * \mainthread */
RAVLIN_API int DeleteGraph(int handle);

/** A graph's size.
 * \param handle The graph; SCREEN_FRONT and SCREEN_BACK give the screen's size.
 * \param width Receives the width in pixels; may be null.
 * \param height Receives the height in pixels; may be null.
 * Logs nothing.
 * \return 0; -1 for a handle that names no graph.
 * \mainthread */
RAVLIN_API int GetGraphSize(int handle, int* width, int* height);

/** Draws a whole graph onto the draw target at (x, y), inside the draw area.
 * \param x Left edge of the picture on the target, pixels.
 * \param y Top edge, pixels.
 * \param handle The graph; not the draw target itself.
 * \param transparent 1 leaves out the pixels of the graph's transparent colour,
 *        0 copies every pixel.
 * Logs nothing.
 * \return 0; -1 for a handle that names no graph, or when the target cannot be drawn on.
 * \mainthread */
RAVLIN_API int DrawGraph(int x, int y, int handle, int transparent);

/** The transparent colour of the graphs made from now on (DrawGraph() with
 * transparent 1 leaves out their pixels of this colour).
 * \param red Red, 0 to 255.
 * \param green Green, 0 to 255.
 * \param blue Blue, 0 to 255.
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetTransColor(int red, int green, int blue);

/** Called after a display change made the graphs lose their pixels (their
 * handles and sizes stay): the program draws them again there. */
typedef void (*GraphRestoreCallback)(void);

/** Sets what runs after the graphs lost their pixels.
 * \param callback The program's function; null for the library's own, which
 *        only logs.
 * Logs nothing (the library's own callback logs that the graphs were not refilled).
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetGraphRestoreCallback(GraphRestoreCallback callback);

/** @} */

/* ==== Fonts and strings ================================================================ */

/** \defgroup text Fonts and string drawing
 * Up to MAX_FONT_HANDLES fonts, each named by a handle 0 to 19; one of them is
 * the default font (16 pixels, weight 600, FONT_PLAIN, the desktop's Japanese
 * fixed-pitch face) that DrawText() and DrawLabeledNumber() use. A character
 * that the font's face lacks is drawn from the next face of the desktop's font
 * list that has it. Strings are in the program's encoding; at most their first
 * FONT_STRING_LIMIT bytes are drawn, ending after the last whole character.
 * @{ */

/** Limits of the font table and of a drawn string. */
enum {
    MAX_FONT_HANDLES = 20,    /**< Fonts that can exist at once. */
    FONT_STRING_LIMIT = 256,  /**< Bytes of a string that are drawn. */
};

/** Font types: bit 0 edge, bit 1 anti-alias. */
enum {
    FONT_PLAIN = 0,         /**< One colour. */
    FONT_EDGED = 1,         /**< One colour with a one-pixel edge in the edge colour. */
    FONT_SMOOTH = 2,        /**< Anti-aliased (on an 8-bit screen: FONT_PLAIN). */
    FONT_SMOOTH_EDGED = 3,  /**< Anti-aliased with an anti-aliased edge (on an 8-bit screen: FONT_EDGED). */
};

/** Makes a font.
 * \param name Face name in the program's encoding ("IPAGothic"); null or ""
 *        for the desktop's Japanese fixed-pitch face.
 * \param size Character height in pixels; -1 for 16.
 * \param thickness Weight in hundreds, 1 to 9 (6 and more bold); -1 for 6.
 * \param type FONT_PLAIN, FONT_EDGED, FONT_SMOOTH or FONT_SMOOTH_EDGED; -1 for FONT_PLAIN.
 * \param handle -1 for the first free handle, or the handle (0 to 19) to make it under.
 * \return The font's handle; -1 before InitLibrary(), when the given handle is
 *         in use, or when no face can be had (logged). Ends the program (exit
 *         code -1, after logging) when all MAX_FONT_HANDLES are in use.
 * \mainthread */
RAVLIN_API int CFont(const char* name, int size, int thickness, int type, int handle);

/** Releases a font; its handle names no font afterwards.
 * \param handle The font.
 * Logs nothing.
 * \return 0; -1 before InitLibrary() or for a handle that names no font.
 * \mainthread */
RAVLIN_API int ReleaseFontHandle(int handle);

/** Makes the default font anew (FONT_PLAIN) with another face, size or weight.
 * \param name Face name in the program's encoding; null or "" for the desktop's choice.
 * \param size Character height in pixels; -1 for 16.
 * \param thickness Weight in hundreds; -1 for 6.
 * Logs a face that cannot be had, as CFont() does.
 * \return 0; -1 before InitLibrary().
 * \mainthread */
RAVLIN_API int ResetDefaultFont(const char* name, int size, int thickness);

/** What a font was made with.
 * \param name Buffer of 256 bytes for the face name (program's encoding); may be null.
 * \param size Receives the height in pixels; may be null.
 * \param thickness Receives the weight in hundreds; may be null.
 * \param handle The font.
 * \return 0; -1 before InitLibrary(). A handle that names no font ends the
 *         program (exit code -1, after logging).
 * \mainthread */
RAVLIN_API int GetFontStateToHandle(char* name, int* size, int* thickness, int handle);

/** The default font's handle.
 * Logs nothing.
 * \return The handle; -1 when no default font could be made.
 * \mainthread */
RAVLIN_API int GetDefaultFontHandle(void);

/** Whether a handle names a font.
 * \param handle Any value.
 * Logs nothing.
 * \return 1 when it names a font, else 0.
 * \mainthread */
RAVLIN_API int IsFontHandleValid(int handle);

/** Draws a string with the default font, its top-left corner at (x, y).
 * \param x Left edge, pixels.
 * \param y Top edge, pixels.
 * \param text The string, in the program's encoding; null draws nothing.
 * \param color A value of MakeColor().
 * \param edgeColor The edge's colour (edged fonts only).
 * Logs nothing.
 * \return 0; -1 before InitLibrary(), without a default font, or when the target
 *         cannot be drawn on.
 * \mainthread */
RAVLIN_API int DrawText(int x, int y, const char* text, uint32_t color, uint32_t edgeColor);

/** Draws label, "=" and a number with the default font.
 * \param x Left edge, pixels.
 * \param y Top edge, pixels.
 * \param label Text in the program's encoding; at most 255 bytes are used.
 * \param number The number.
 * \param radix 2 to 36; radix 10 writes a minus sign, the others the unsigned 32-bit pattern.
 * \param color A value of MakeColor().
 * \param edgeColor The edge's colour (edged fonts only).
 * Logs nothing.
 * \return 0, always (nothing is drawn for a radix out of range).
 * \mainthread */
RAVLIN_API int DrawLabeledNumber(int x, int y, const char* label, int number, int radix, uint32_t color,
                                 uint32_t edgeColor);

/** Draws a string with a font, its top-left corner at (x, y).
 * \param x Left edge, pixels.
 * \param y Top edge, pixels.
 * \param text The string, in the program's encoding; null draws nothing.
 * \param color A value of MakeColor().
 * \param handle The font. A handle that names no font ends the program (exit
 *        code -1, after logging).
 * \param edgeColor The edge's colour (edged fonts only).
 * Logs nothing, but for a handle that names no font.
 * \return 0 (also when the draw area is empty); -1 before InitLibrary() or when
 *         the target cannot be drawn on.
 * \mainthread */
RAVLIN_API int DrawStringToHandle(int x, int y, const char* text, uint32_t color, int handle, uint32_t edgeColor);

/** How strings are put on the target: mode 0 copies their pixels; other modes
 * draw them through the font's work picture, with its transparent colour for
 * mode 1.
 * \param mode Blend mode, 0 or 1.
 * \param param Blend parameter, 0 to 255 (kept in that range).
 * Logs nothing.
 * \return 0, always.
 * \mainthread */
RAVLIN_API int SetBlendMode(int mode, int param);

/** @} */

/* ==== Keyboard and joypads ============================================================= */

/** \defgroup input Keyboard and joypads
 * Read by polling: IsKeyDown() asks for one key, GetPadInput() for the
 * directions and buttons of a joypad and (optionally) of keys that stand for
 * them. Keys are named by their position on a PC keyboard (DIK_ codes). Only
 * the window in front gets keys.
 * @{ */

/** Bits of GetPadInput(), and the keys that set them with INPUT_KEY. */
enum {
    PAD_DOWN = 0x1,            /**< Pad down; Down arrow or numeric 2. */
    PAD_LEFT = 0x2,            /**< Pad left; Left arrow or numeric 4. */
    PAD_RIGHT = 0x4,           /**< Pad right; Right arrow or numeric 6. */
    PAD_UP = 0x8,              /**< Pad up; Up arrow or numeric 8. */
    PAD_BUTTON1 = 0x10,        /**< Button 1; Z. */
    PAD_BUTTON2 = 0x20,        /**< Button 2; X. */
    PAD_BUTTON3 = 0x40,        /**< Button 3; C. */
    PAD_BUTTON4 = 0x80,        /**< Button 4; A. */
    PAD_BUTTON5 = 0x100,       /**< Button 5; S. */
    PAD_BUTTON6 = 0x200,       /**< Button 6; D. */
    PAD_BUTTON7 = 0x400,       /**< Button 7; Q. */
    PAD_BUTTON8 = 0x800,       /**< Button 8; W. */
    PAD_BUTTON9 = 0x1000,      /**< Button 9; Escape. */
    PAD_BUTTON10 = 0x2000,     /**< Button 10; Space. */
    PAD_BUTTON11 = 0x4000,     /**< Button 11. */
    PAD_BUTTON12 = 0x8000,     /**< Button 12. */
    PAD_BUTTON13 = 0x10000,    /**< Button 13. */
    PAD_BUTTON14 = 0x20000,    /**< Button 14. */
    PAD_BUTTON15 = 0x40000,    /**< Button 15. */
    PAD_BUTTON16 = 0x80000,    /**< Button 16. */
    PAD_BUTTON17 = 0x100000,   /**< Button 17. */
    PAD_BUTTON18 = 0x200000,   /**< Button 18. */
    PAD_BUTTON19 = 0x400000,   /**< Button 19. */
    PAD_BUTTON20 = 0x800000,   /**< Button 20. */
    PAD_BUTTON21 = 0x1000000,  /**< Button 21. */
    PAD_BUTTON22 = 0x2000000,  /**< Button 22. */
    PAD_BUTTON23 = 0x4000000,  /**< Button 23. */
    PAD_BUTTON24 = 0x8000000,  /**< Button 24. */
};

/** Input sources of GetPadInput(). */
enum {
    INPUT_KEY = 0x1000,       /**< Added to a pad number: the keyboard's keys too. */
    INPUT_PAD1 = 1,           /**< The first joypad (2 to 8 name the others). */
    INPUT_KEY_PAD1 = 0x1001,  /**< The first joypad and the keyboard. */
    MAX_PADS = 7,             /**< Joypads the library opens. */
};

/** Keys, by their scan code on a PC keyboard. */
enum {
    DIK_ESCAPE = 0x01,        /**< Escape. */
    DIK_1 = 0x02,             /**< 1 of the main keyboard. */
    DIK_2 = 0x03,             /**< 2. */
    DIK_3 = 0x04,             /**< 3. */
    DIK_4 = 0x05,             /**< 4. */
    DIK_5 = 0x06,             /**< 5. */
    DIK_6 = 0x07,             /**< 6. */
    DIK_7 = 0x08,             /**< 7. */
    DIK_8 = 0x09,             /**< 8. */
    DIK_9 = 0x0A,             /**< 9. */
    DIK_0 = 0x0B,             /**< 0. */
    DIK_MINUS = 0x0C,         /**< - of the main keyboard. */
    DIK_EQUALS = 0x0D,        /**< = (^ on a Japanese keyboard is DIK_CIRCUMFLEX). */
    DIK_BACK = 0x0E,          /**< Backspace. */
    DIK_TAB = 0x0F,           /**< Tab. */
    DIK_Q = 0x10,             /**< Q. */
    DIK_W = 0x11,             /**< W. */
    DIK_E = 0x12,             /**< E. */
    DIK_R = 0x13,             /**< R. */
    DIK_T = 0x14,             /**< T. */
    DIK_Y = 0x15,             /**< Y. */
    DIK_U = 0x16,             /**< U. */
    DIK_I = 0x17,             /**< I. */
    DIK_O = 0x18,             /**< O. */
    DIK_P = 0x19,             /**< P. */
    DIK_LBRACKET = 0x1A,      /**< [ (@ on a Japanese keyboard is DIK_AT). */
    DIK_RBRACKET = 0x1B,      /**< ]. */
    DIK_RETURN = 0x1C,        /**< Enter of the main keyboard. */
    DIK_LCONTROL = 0x1D,      /**< Left Ctrl. */
    DIK_A = 0x1E,             /**< A. */
    DIK_S = 0x1F,             /**< S. */
    DIK_D = 0x20,             /**< D. */
    DIK_F = 0x21,             /**< F. */
    DIK_G = 0x22,             /**< G. */
    DIK_H = 0x23,             /**< H. */
    DIK_J = 0x24,             /**< J. */
    DIK_K = 0x25,             /**< K. */
    DIK_L = 0x26,             /**< L. */
    DIK_SEMICOLON = 0x27,     /**< ;. */
    DIK_APOSTROPHE = 0x28,    /**< ' (: on a Japanese keyboard is DIK_COLON). */
    DIK_GRAVE = 0x29,         /**< ` (hankaku/zenkaku on a Japanese keyboard). */
    DIK_LSHIFT = 0x2A,        /**< Left Shift. */
    DIK_BACKSLASH = 0x2B,     /**< Backslash. */
    DIK_Z = 0x2C,             /**< Z. */
    DIK_X = 0x2D,             /**< X. */
    DIK_C = 0x2E,             /**< C. */
    DIK_V = 0x2F,             /**< V. */
    DIK_B = 0x30,             /**< B. */
    DIK_N = 0x31,             /**< N. */
    DIK_M = 0x32,             /**< M. */
    DIK_COMMA = 0x33,         /**< ,. */
    DIK_PERIOD = 0x34,        /**< . of the main keyboard. */
    DIK_SLASH = 0x35,         /**< / of the main keyboard. */
    DIK_RSHIFT = 0x36,        /**< Right Shift. */
    DIK_MULTIPLY = 0x37,      /**< * of the numeric pad. */
    DIK_LMENU = 0x38,         /**< Left Alt. */
    DIK_SPACE = 0x39,         /**< Space bar. */
    DIK_CAPITAL = 0x3A,       /**< Caps Lock. */
    DIK_F1 = 0x3B,            /**< F1. */
    DIK_F2 = 0x3C,            /**< F2. */
    DIK_F3 = 0x3D,            /**< F3. */
    DIK_F4 = 0x3E,            /**< F4. */
    DIK_F5 = 0x3F,            /**< F5. */
    DIK_F6 = 0x40,            /**< F6. */
    DIK_F7 = 0x41,            /**< F7. */
    DIK_F8 = 0x42,            /**< F8. */
    DIK_F9 = 0x43,            /**< F9. */
    DIK_F10 = 0x44,           /**< F10. */
    DIK_NUMLOCK = 0x45,       /**< Num Lock. */
    DIK_SCROLL = 0x46,        /**< Scroll Lock. */
    DIK_NUMPAD7 = 0x47,       /**< 7 of the numeric pad. */
    DIK_NUMPAD8 = 0x48,       /**< 8 of the numeric pad. */
    DIK_NUMPAD9 = 0x49,       /**< 9 of the numeric pad. */
    DIK_SUBTRACT = 0x4A,      /**< - of the numeric pad. */
    DIK_NUMPAD4 = 0x4B,       /**< 4 of the numeric pad. */
    DIK_NUMPAD5 = 0x4C,       /**< 5 of the numeric pad. */
    DIK_NUMPAD6 = 0x4D,       /**< 6 of the numeric pad. */
    DIK_ADD = 0x4E,           /**< + of the numeric pad. */
    DIK_NUMPAD1 = 0x4F,       /**< 1 of the numeric pad. */
    DIK_NUMPAD2 = 0x50,       /**< 2 of the numeric pad. */
    DIK_NUMPAD3 = 0x51,       /**< 3 of the numeric pad. */
    DIK_NUMPAD0 = 0x52,       /**< 0 of the numeric pad. */
    DIK_DECIMAL = 0x53,       /**< . of the numeric pad. */
    DIK_OEM_102 = 0x56,       /**< The extra key beside the left Shift of European keyboards. */
    DIK_F11 = 0x57,           /**< F11. */
    DIK_F12 = 0x58,           /**< F12. */
    DIK_F13 = 0x64,           /**< F13. */
    DIK_F14 = 0x65,           /**< F14. */
    DIK_F15 = 0x66,           /**< F15. */
    DIK_KANA = 0x70,          /**< Katakana/hiragana (Japanese keyboard). */
    DIK_ABNT_C1 = 0x73,       /**< The ro key (Japanese keyboard). */
    DIK_CONVERT = 0x79,       /**< Henkan (Japanese keyboard). */
    DIK_NOCONVERT = 0x7B,     /**< Muhenkan (Japanese keyboard). */
    DIK_YEN = 0x7D,           /**< Yen (Japanese keyboard). */
    DIK_NUMPADEQUALS = 0x8D,  /**< = of the numeric pad. */
    DIK_CIRCUMFLEX = 0x90,    /**< ^ (Japanese keyboard). */
    DIK_AT = 0x91,            /**< @ (Japanese keyboard). */
    DIK_COLON = 0x92,         /**< : (Japanese keyboard). */
    DIK_KANJI = 0x94,         /**< Hankaku/zenkaku where the keyboard reports it as its own key. */
    DIK_STOP = 0x95,          /**< Stop. */
    DIK_NEXTTRACK = 0x99,     /**< Next track. */
    DIK_NUMPADENTER = 0x9C,   /**< Enter of the numeric pad. */
    DIK_RCONTROL = 0x9D,      /**< Right Ctrl. */
    DIK_MUTE = 0xA0,          /**< Mute. */
    DIK_CALCULATOR = 0xA1,    /**< Calculator. */
    DIK_PLAYPAUSE = 0xA2,     /**< Play/pause. */
    DIK_MEDIASTOP = 0xA4,     /**< Media stop. */
    DIK_VOLUMEDOWN = 0xAE,    /**< Volume down. */
    DIK_VOLUMEUP = 0xB0,      /**< Volume up. */
    DIK_WEBHOME = 0xB2,       /**< Browser home. */
    DIK_NUMPADCOMMA = 0xB3,   /**< , of the numeric pad. */
    DIK_DIVIDE = 0xB5,        /**< / of the numeric pad. */
    DIK_SYSRQ = 0xB7,         /**< Print Screen. */
    DIK_RMENU = 0xB8,         /**< Right Alt. */
    DIK_PAUSE = 0xC5,         /**< Pause. */
    DIK_HOME = 0xC7,          /**< Home. */
    DIK_UP = 0xC8,            /**< Up arrow. */
    DIK_PRIOR = 0xC9,         /**< Page Up. */
    DIK_LEFT = 0xCB,          /**< Left arrow. */
    DIK_RIGHT = 0xCD,         /**< Right arrow. */
    DIK_END = 0xCF,           /**< End. */
    DIK_DOWN = 0xD0,          /**< Down arrow. */
    DIK_NEXT = 0xD1,          /**< Page Down. */
    DIK_INSERT = 0xD2,        /**< Insert. */
    DIK_DELETE = 0xD3,        /**< Delete. */
    DIK_LWIN = 0xDB,          /**< Left Windows/Super key. */
    DIK_RWIN = 0xDC,          /**< Right Windows/Super key. */
    DIK_APPS = 0xDD,          /**< Menu key. */
    DIK_POWER = 0xDE,         /**< Power. */
    DIK_SLEEP = 0xDF,         /**< Sleep. */
    DIK_WEBSEARCH = 0xE5,     /**< Browser search. */
    DIK_WEBFAVORITES = 0xE6,  /**< Browser favourites. */
    DIK_WEBREFRESH = 0xE7,    /**< Browser refresh. */
    DIK_WEBSTOP = 0xE8,       /**< Browser stop. */
    DIK_WEBFORWARD = 0xE9,    /**< Browser forward. */
    DIK_WEBBACK = 0xEA,       /**< Browser back. */
    DIK_MYCOMPUTER = 0xEB,    /**< My computer. */
    DIK_MAIL = 0xEC,          /**< Mail. */
    DIK_MEDIASELECT = 0xED,   /**< Media select. */
};

/** Whether a key is held now. While the window is in the background it waits
 * (pumping) until the window is in front again. The first call after input was
 * ended (by a screen rebuild) starts input again and answers 0.
 * \param scanCode A DIK_ code, 0 to 255.
 * Logs nothing, but when it starts input again (input's start-up lines).
 * \return 1 held, 0 not held (also for codes out of range, or once the program
 *         is to end); -1 when input could not be started again.
 * \mainthread */
RAVLIN_API int IsKeyDown(int scanCode);

/** The directions and buttons of a joypad, and of the keys that stand for them
 * (see the PAD_ bits). Axes count past a quarter of their travel.
 * \param inputSource A pad number 1 to 8 (0 for none), plus INPUT_KEY to add
 *        the keyboard's keys: INPUT_KEY_PAD1 is the first pad and the keyboard.
 * Logs nothing, but when it starts input again (input's start-up lines).
 * \return The PAD_ bits held; 0 for a source out of range or a pad that is
 *         not there; -1 when the program is to end while a pad is opened again.
 * \mainthread */
RAVLIN_API int GetPadInput(int inputSource);

/** How many joypads were found when input started.
 * Logs nothing.
 * \return 0 to MAX_PADS.
 * \mainthread */
RAVLIN_API int GetJoypadNum(void);

/** @} */

/* ==== Desktop ============================================================================ */

/** \defgroup desktop Desktop: files from other starts, media controls
 * @{ */

/** Before InitLibrary(): files reach this program from later starts of it on
 * the same display and from drops on its window (TakeOpenedFile()). When
 * another start of the program already runs, InitLibrary() hands this start's
 * file over to it and ends the process: with 0, or with 1 when the running
 * instance did not take the file.
 * \param path The file for a running program, in the file system's bytes
 *        (made absolute here); null or "" for none.
 * Logs nothing (InitLibrary() logs a hand-over).
 * \return 0; -1 when the path cannot be made absolute.
 * \mainthread */
RAVLIN_API int SetFileHandOver(const char* path);

/** The last file that arrived from a later start or a drop since the last call
 * (of several handed over, the last one sent). A file that arrives brings the
 * window to the front.
 * \param path Buffer for the file's absolute path, in the file system's bytes.
 * \param size Bytes of the buffer, terminator included.
 * Logs nothing.
 * \return 1 with the path; 0 when no file arrived (or it does not fit the buffer).
 * \mainthread */
RAVLIN_API int TakeOpenedFile(char* path, int size);

/** What the desktop's media controls ask of the program. */
enum {
    MEDIA_PLAY = 1,    /**< Play. */
    MEDIA_PAUSE,       /**< Pause. */
    MEDIA_PLAY_PAUSE,  /**< Play when paused, pause when playing. */
    MEDIA_STOP,        /**< Stop. */
    MEDIA_SET_RATE,    /**< Play at another speed (value: the rate, above 0). */
    MEDIA_SEEK = 8,    /**< Move the position (value: microseconds, either way). */
    MEDIA_SET_POSITION, /**< Go to a position (value: microseconds from the start, within the length). */
    MEDIA_SET_VOLUME,  /**< Set the volume (value: 0 to 1). */
};

/** The program's handler of media requests; runs inside the message pump, also
 * while the window is in the background.
 * \param request One of the MEDIA_ requests.
 * \param value The rate for MEDIA_SET_RATE (1 = the file's own), microseconds
 *        for MEDIA_SEEK and MEDIA_SET_POSITION, 0 to 1 for MEDIA_SET_VOLUME, else 0. */
typedef void (*MediaRequestHandler)(int request, double value);

/** What the desktop's media controls show. */
typedef struct MediaState {
    int playing;                 /**< 1 playing, 0 stopped. */
    double rate;                 /**< Playback speed, 1 = the file's own. */
    double minimumRate;          /**< Slowest speed the program plays at. */
    double maximumRate;          /**< Fastest speed the program plays at. */
    int track;                   /**< Counts the files loaded; a change is a new track. */
    int64_t lengthMicroseconds;  /**< The track's length in microseconds; 0 when unknown. */
    const char* path;            /**< The track's absolute path, file system's bytes; null for none. */
    int paused;                  /**< 1 when not playing and going on from where it stands (shown only while not playing). */
    double volume;               /**< The sound's volume, 0 to 1. */
} MediaState;

/** Offers the program to the desktop's media controls (the session bus's media
 * player interface). They end with EndLibrary() or EndMediaControls(). Quit and
 * raise requests are served by the library (a close, the window to the front).
 * \param name One lower-case word, also the program's desktop entry name ("marovel").
 * \param identity The name users see ("Marovel"), UTF-8.
 * Logs nothing.
 * \return 0; -1 without a session bus (nothing is said then).
 * \mainthread */
RAVLIN_API int StartMediaControls(const char* name, const char* identity);

/** Withdraws the media controls.
 * Logs nothing.
 * \mainthread */
RAVLIN_API void EndMediaControls(void);

/** Sets the handler of media requests.
 * \param handler The program's function; null for none.
 * Logs nothing.
 * \mainthread */
RAVLIN_API void SetMediaRequestHandler(MediaRequestHandler handler);

/** Tells the desktop the program's state; each change is announced.
 * \param state The state; copied.
 * Logs nothing.
 * \return 0; -1 when the media controls are not started or state is null.
 * \mainthread */
RAVLIN_API int PublishMediaState(const MediaState* state);

/** Sets where the desktop reads the position from: the function is called
 * each time the desktop asks (the position is never announced).
 * \param query Returns the position in microseconds from the track's start;
 *        null: the position reads 0.
 * Logs nothing.
 * \mainthread */
RAVLIN_API void SetMediaPositionQuery(int64_t (*query)(void));

/** Tells the desktop that the position jumped (a seek, a loop section's
 * return); not for a new track.
 * \param microseconds The new position from the track's start.
 * Logs nothing.
 * \return 0; -1 when the media controls are not started.
 * \mainthread */
RAVLIN_API int AnnounceMediaSeek(int64_t microseconds);

/** @} */

/** \cond INTERNAL */
#ifdef __cplusplus
}
#endif
/** \endcond */

#endif /* RAVLIN_H */
