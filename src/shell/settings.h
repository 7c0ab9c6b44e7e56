// The program's settings file and the search for the simulator: the simulator's folder from the
// settings file or the simulator's registry keys, the user's multiplayer name from the simulator's
// configuration file, the two options, and the FS Path command that picks the folder by hand.
#pragma once

#include <cstddef>
#include <cstdint>

// The settings file, a bare name the profile functions place in the platform's settings folder.
inline constexpr const char* SettingsFile = "Skyrelay.ini";
inline constexpr const char* SettingsSection = "Skyrelay";
inline constexpr const char* FsPathKey = "FSPath";
inline constexpr const char* UsingSbKey = "UsingSB";
inline constexpr const char* ManualConnectKey = "ManualConnect";

// Size of simFolder: 199 characters and the terminator.
inline constexpr std::size_t SimFolderSize = 200;
// Size of the text an option is read into before its conversion.
inline constexpr std::size_t OptionTextSize = 100;

// The folder browser's title and flags: BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON.
inline constexpr const char* FsPathBrowseTitle = "FS Directory";
inline constexpr std::uint32_t FsPathBrowseFlags = 0x0250;

// Shown when neither the settings file nor the registry names the simulator's folder.
inline constexpr const char* SimFolderNotFoundMessage = "Can't find FS2002 PAth";
// Shown when the folder picked with FS Path does not fit in simFolder; nothing is changed.
inline constexpr const char* FsPathTooLongMessage =
    "The chosen folder's path is longer than 199 characters. FS Path is unchanged.";
// Shown once per process, in a box owned by the main dialog (caption "Skyrelay", exclamation
// icon), when a write of the settings file fails: the file's full path, then the system's own
// reason without its closing full stop. Options and folder keep working until the program exits.
inline constexpr const char* SettingsNotSavedFormat =
    "Skyrelay could not save its settings to %s: %s. The change holds until Skyrelay exits.";
inline constexpr const char* SettingsNotSavedCaption = "Skyrelay";

// The simulator's folder, NUL-terminated (at most 199 characters); empty at start. Written by
// FindSimFolder (the folder, or "Not found"), ReadPlayerName (the folder followed by
// "\FS2002.cfg") and OnFsPath (the chosen folder).
extern char simFolder[SimFolderSize];

// Fills simFolder from FSPath of the settings file or else from the simulator's registry keys, and
// shows it on the path line; when neither has it, simFolder becomes "Not found" and the not-found
// message is shown.
void FindSimFolder();

// Appends "\FS2002.cfg" to simFolder and reads playerName from section MULTIPLAYER, key
// PLAYER_NAME of that file (default "a"). Runs right after FindSimFolder.
void ReadPlayerName();

// Sets relayState.usingSquawkBox and relayState.manualConnectOnly from the settings file, by the
// standard decimal conversion (default 0).
void LoadOptions();

// Writes an option ("UsingSB" or "ManualConnect") into the settings file at once: "0" for 0, "1"
// otherwise. The first write of the process that fails (as does OnFsPath's) shows the
// settings-not-saved box.
void SaveOption(const char* key, int value);

// The FS Path command (menu File, command 135): lets the user pick the simulator's folder, stores
// it as FSPath and shows it on the path line. A cancelled browse, a browse without a file-system
// path and a path longer than 199 characters change nothing (the last with a message).
void OnFsPath();

// Back to the state of a freshly loaded process: simFolder empty, no failed save said.
void ResetSettings();
