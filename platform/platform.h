// The desktop services the engine needs from the operating system, behind one
// small interface: message boxes, folder listing, restarting the program, the
// executable's folder, the save folder, durable file writes, the window's
// real size, frame and state, the pointer's buttons, and advice on large
// buffers. Nothing outside platform/ includes an operating-system header.
#pragma once

#include <cstddef>
#include <cstdio>

struct SDL_Window;

enum PlatBoxStyle {
    PLAT_BOX_INFORMATION,
    PLAT_BOX_WARNING,
    PLAT_BOX_ERROR,
};

// Shows a modal message box over owner (null for a box of its own, as at
// start-up before the game's window is up) and writes the same text to
// standard error, so a player without a display still learns what happened.
void plat_message_box(SDL_Window* owner, PlatBoxStyle style, const char* title, const char* text);

// Calls on_file with the name (no folder) of every regular file in folder
// (a prefix such as "dat/" or "" for the working directory) whose name starts
// with prefix and ends with suffix. Names are matched case-sensitively and
// reported in byte order. False when the folder cannot be listed.
using PlatFileFn = void (*)(const char* name, void* user);
bool plat_list_files(const char* folder, const char* prefix, const char* suffix,
                     PlatFileFn on_file, void* user);

enum PlatFileKind {
    PLAT_FILE_MISSING,
    PLAT_FILE_REGULAR,
    PLAT_FILE_OTHER,  // a folder, FIFO, socket or device
};

// What path names, following links.
PlatFileKind plat_file_kind(const char* path);

// Opens path for reading in binary mode when it is a regular file (or a link
// to one). Null when it is missing, unreadable or anything else: a FIFO,
// device or folder counts as missing and is never waited on.
FILE* plat_open_regular_file(const char* path);

// Starts a new instance of this executable in the current working directory.
// False when it could not be started.
bool plat_restart_self();

// Writes the folder holding this executable, ending with '/', into out: an
// empty string when the folder is unknown, so that files meant for it land
// in the working directory. False, with out empty, when the folder does not
// fit in capacity bytes: files meant for it then have nowhere to go.
bool plat_executable_dir(char* out, size_t capacity);

// Creates the folder path (its parent must exist). True when it exists
// afterwards, whether it was made now or before.
bool plat_make_dir(const char* path);

// Fills file through write and puts it at path wherever opening path for
// writing would put it, and nowhere that open would be refused. The bytes go
// to a new file of this write's own beside it, "<name>.kavrel-XXXXXX.tmp"
// (made exclusively: nothing already there is followed, waited on or
// removed), are flushed to the disk and renamed over the old file, whose
// owner, group and permissions they take; the folder is synced so the new
// name is on the disk too. A crash then leaves the old file or the new one
// whole, and at most that temporary. Wherever the new file could not keep
// all the open keeps, the old file is emptied and written where it is, by
// the system's own open: a symbolic link at path (followed by the system,
// under its guard on links in shared folders; a dangling one creates its
// file as the open would), a file with a second name (a hard link), one whose
// owner or group cannot be given back, one with extended attributes or an
// ACL a new file would not get alike, a folder marked append-only, and a
// temporary or a rename the file system refuses (a mount point, a read-only
// or unwritable folder). write may then be called a second time, and must
// write the same bytes. Only a regular file this user may write is written;
// anything else is left as it is. False when the file may not be written,
// write returns false or any step fails (a full disk among them): the
// temporary is then removed and the old file stays, unless it was written in
// place (it holds what was written) or only the folder's sync failed (the
// new file is in place). A folder that cannot be read for its sync is no
// failure.
using PlatWriteFn = bool (*)(FILE* file, void* user);
bool plat_replace_file(const char* path, PlatWriteFn write, void* user);

// Writes where the client area of window really lies on the screen and its
// size. On X11 both are read from the X server one right after the other,
// since a window manager may keep the window at another size and place than
// SDL last set or heard of; other video drivers give SDL's own.
void plat_window_client_rect(SDL_Window* window, int* x, int* y, int* w, int* h);

// Asks for a client size of w x h and returns once the window manager has
// answered: on X11 the first ConfigureNotify the window gets after the
// request, real when the size was given and made up when it was refused; or
// after a second, for a manager that never answers. plat_window_client_rect
// then reads the size the window has. Other video drivers only set the size.
void plat_window_request_size(SDL_Window* window, int w, int h);

// True when a window manager has put window into a frame of its own (on X11,
// its parent is no longer the root window). False on other video drivers.
bool plat_window_is_framed(SDL_Window* window);

// True when the window manager holds window maximised (in either direction)
// or fullscreen, as the window's state on the X server says; SDL does not
// see every such state (a fullscreen the manager set, for one). False on
// other video drivers.
bool plat_window_held_by_manager(SDL_Window* window);

// True while a pointer button is held down anywhere on the screen, as a
// window manager's drag of the window's frame holds one; the window itself
// sees no button events then. False on other video drivers.
bool plat_pointer_button_held(SDL_Window* window);

// Tells the system that buffer, len bytes long, is about to be written from
// end to end, so that it may back it with large pages: a picture's data
// written into fresh memory would otherwise cost a page fault every 4 KiB.
// Only advice; nothing changes where it cannot be taken.
void plat_advise_large_write(void* buffer, size_t len);
