// The terminal dialog: modal dialogs, their menus, window timers, message boxes, the folder prompt
// and the wait for the session event, all driven by one poll loop on the calling thread. A modal
// thing (dialog, box, prompt) runs a nested loop of its own, in which timers keep firing as they do
// on Windows. Headless, nothing is drawn: texts become lines on the report stream and each input
// line is a menu command.
#include "platform/dialog.h"
#include "platform/app.h"
#include "platform/posix/dialog_resources.h"
#include "platform/posix/posix_backend.h"
#include "platform/posix/posix_dialog.h"
#include "platform/posix/terminal.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

struct plat::MenuObject {
    struct Item {
        std::string popup; // the popup it sits in, "" for an item of its own
        std::string text;  // as the resource has it, '&' included
        unsigned commandId = 0;
        char key = 0; // the terminal key that picks it, 0 for none
        bool separator = false;
        bool grayed = false;
        bool checked = false;
    };
    bool system = false; // a system menu: its items are system commands
    std::vector<Item> items;
};

struct plat::WindowObject {
    const posix::DialogResource* resource = nullptr;
    plat::DialogHandler* handler = nullptr;
    std::map<int, std::string> texts;             // control id -> text
    std::unique_ptr<plat::MenuObject> menu;       // null when the template has none
    std::unique_ptr<plat::MenuObject> systemMenu; // null without the system-menu style
    std::array<plat::Icon, 2> icons{};            // small, big
    bool ended = false;                           // EndModalDialog was called
    int result = 0;                               // its result
};

struct plat::IconObject {
    int id = 0;
};

namespace posix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned CommandExit = 0xE141;     // ID_APP_EXIT, what File > Exit sends
constexpr unsigned SysCommandClose = 0xF060; // SC_CLOSE
constexpr unsigned MinimumPeriodMs = 10;     // USER_TIMER_MINIMUM
constexpr std::size_t MaxFolderLength = 259; // the platform's path limit, less the terminator
constexpr std::size_t MaxPendingInput = 65536;

struct Timer {
    plat::Window window = nullptr;
    unsigned id = 0;
    unsigned periodMs = 0;
    plat::TimerProc callback = nullptr;
    Clock::time_point due;
    std::uint64_t serial = 0; // new for each StartTimer, so a replaced timer's old tick is dropped
};

// One modal thing on screen; the innermost is the one that takes the keys.
struct Layer {
    enum class Kind { Dialog, Box, Prompt };
    Kind kind = Kind::Dialog;
    plat::Window window = nullptr; // Dialog: its window
    std::string caption;           // Box and Prompt
    std::string text;              // Box: the message; Prompt: the title
    std::uint32_t style = 0;       // Box: MB_ style
    std::string answer;            // Prompt: what has been typed
    bool done = false;             // Box and Prompt: closed
    bool accepted = false;         // Prompt: closed with Enter
};

// The dialog system's process-wide state; written only by this file, on the dialog's thread.
struct DialogSystem {
    std::optional<bool> headless;                             // SetHeadless's choice, none: auto
    int inputFd = 0;                                          // keys or command lines
    int outputFd = 1;                                         // the drawn dialog
    int reportFd = 2;                                         // headless lines
    std::string programName;                                  // "" until first needed
    std::vector<std::unique_ptr<plat::WindowObject>> windows; // live windows, oldest first
    std::vector<Layer*> layers;                               // modal stack, innermost last
    std::vector<Timer> timers;                                // running window timers
    std::uint64_t nextSerial = 1;                             // next Timer::serial
    std::string input;                                        // read, not yet handled
    bool inputEnded = false;                                  // the input stream has ended
    std::optional<std::string> chosenFolder; // the folder of the "FS Path <folder>" in hand
    bool exitRequested = false;              // a signal or Ctrl-C not yet delivered as Exit
    bool dirty = true;                       // the screen needs drawing
    std::string notice;                      // one line under the dialog, until the next key
};

DialogSystem& System() {
    static DialogSystem system;
    return system;
}

// ---- signals --------------------------------------------------------------------------------

// The self-pipe: a signal handler only writes the signal's number; the loop reads it.
int signalPipe[2] = {-1, -1};
constexpr std::array<int, 4> handledSignals{SIGINT, SIGTERM, SIGHUP, SIGWINCH};
std::array<struct sigaction, handledSignals.size()> previousActions{};
bool signalsInstalled = false;

void OnSignal(int number) {
    int savedErrno = errno;
    auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

bool MakePipe() {
    if (signalPipe[0] >= 0)
        return true;
    if (pipe(signalPipe) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return false;
    }
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

void ReadSignals() {
    unsigned char bytes[64];
    ssize_t count;
    while ((count = read(signalPipe[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i) {
            if (bytes[i] == SIGWINCH)
                System().dirty = true;
            else
                System().exitRequested = true;
        }
}

void InstallSignals() {
    if (signalsInstalled || !MakePipe())
        return;
    // Anything left from an earlier run is stale.
    unsigned char stale[64];
    while (read(signalPipe[0], stale, sizeof stale) > 0) {
    }
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        sigaction(handledSignals[i], &action, &previousActions[i]);
    signalsInstalled = true;
}

void RemoveSignals() {
    if (!signalsInstalled)
        return;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        sigaction(handledSignals[i], &previousActions[i], nullptr);
    signalsInstalled = false;
}

// ---- texts ----------------------------------------------------------------------------------

// A menu text without its mnemonic marks ("E&xit" -> "Exit", "&&" -> "&").
std::string WithoutMnemonic(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        else if (text[i] == '&')
            continue;
        out += text[i];
    }
    return out;
}

char MnemonicKey(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        char c = text[i + 1];
        if (c == '&') {
            ++i;
            continue;
        }
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return 0;
}

// A text as one report line: newlines and carriage returns written as \n and \r.
std::string OneLine(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

void Report(std::string_view kind, std::string_view text) {
    WriteAll(System().reportFd, std::string(kind) + ": " + OneLine(text) + "\n");
}

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// A text made safe for the screen (control characters, escapes included, become '?') and cut to
// a number of columns; *columns gets the columns it takes.
std::string Fit(std::string_view text, int width, int* columns) {
    std::string out;
    int used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        auto byte = static_cast<unsigned char>(c);
        if (IsContinuation(c)) {
            if (!out.empty())
                out += c;
            continue;
        }
        if (used == width)
            break;
        out += byte < 0x20 || byte == 0x7f ? '?' : c;
        ++used;
    }
    *columns = used;
    return out;
}

// ---- windows, menus, timers -----------------------------------------------------------------

plat::WindowObject* Live(plat::Window window) {
    for (const auto& owned : System().windows)
        if (owned.get() == window)
            return owned.get();
    return nullptr;
}

plat::MenuObject* LiveMenu(plat::Menu menu) {
    if (menu == nullptr)
        return nullptr;
    for (const auto& window : System().windows)
        if (window->menu.get() == menu || window->systemMenu.get() == menu)
            return menu;
    return nullptr;
}

plat::WindowObject* OwnerOf(const plat::MenuObject* menu) {
    for (const auto& window : System().windows)
        if (window->menu.get() == menu || window->systemMenu.get() == menu)
            return window.get();
    return nullptr;
}

bool KeyInUse(const plat::WindowObject& window, char key) {
    for (const auto* menu : {window.menu.get(), window.systemMenu.get()})
        if (menu != nullptr)
            for (const auto& item : menu->items)
                if (item.key == key)
                    return true;
    return false;
}

std::unique_ptr<plat::MenuObject> MenuFromResource(const MenuResource& resource) {
    auto menu = std::make_unique<plat::MenuObject>();
    for (const auto& popup : resource.popups)
        for (const auto& item : popup.items)
            menu->items.push_back({std::string(popup.text), std::string(item.text), item.commandId,
                                   item.key, false, false, false});
    return menu;
}

// Milliseconds until the next timer is due (0 if one is overdue), -1 with no timer running.
int MillisecondsToNextTimer() {
    const auto& timers = System().timers;
    if (timers.empty())
        return -1;
    auto next = std::min_element(timers.begin(), timers.end(), [](const Timer& a, const Timer& b) {
                    return a.due < b.due;
                })->due;
    auto now = Clock::now();
    if (next <= now)
        return 0;
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
}

bool Done(const Layer& layer) {
    return layer.kind == Layer::Kind::Dialog ? layer.window->ended : layer.done;
}

// Fires every timer that is due, earliest first. Callbacks may stop or replace timers, end the
// running loop or run nested loops (in which timers fire too), so each timer is looked up again
// by its serial just before it fires.
void RunDueTimers(const Layer& running) {
    auto& timers = System().timers;
    auto now = Clock::now();
    // The due timers in the order they fell due. A dialog has a few timers, so the list lives on
    // the stack: a timer tick allocates nothing.
    using Due = std::pair<Clock::time_point, std::uint64_t>;
    constexpr std::size_t StackSlots = 16;
    Due onStack[StackSlots];
    std::vector<Due> onHeap;
    std::size_t count = 0;
    for (const auto& timer : timers)
        if (timer.due <= now)
            ++count;
    if (count > StackSlots)
        onHeap.resize(count);
    std::span<Due> due(count > StackSlots ? onHeap.data() : onStack, count);
    std::size_t filled = 0;
    for (const auto& timer : timers)
        if (timer.due <= now)
            due[filled++] = Due{timer.due, timer.serial};
    std::sort(due.begin(), due.end());
    for (const auto& [when, serial] : due) {
        if (Done(running))
            return;
        auto it = std::find_if(timers.begin(), timers.end(),
                               [serial = serial](const Timer& t) { return t.serial == serial; });
        if (it == timers.end() || it->due > Clock::now())
            continue; // stopped, replaced, or already fired inside a nested loop
        it->due = Clock::now() + std::chrono::milliseconds(it->periodMs);
        plat::TimerProc callback = it->callback;
        if (callback != nullptr)
            callback();
    }
}

// ---- commands ---------------------------------------------------------------------------------

void DefaultSysCommand(plat::WindowObject& window, unsigned commandId) {
    if ((commandId & 0xFFF0) == SysCommandClose)
        window.handler->OnCommand(plat::CommandCancel);
}

// Sends a menu item's command to the window's handler; a grayed item does nothing.
void Activate(plat::WindowObject& window, const plat::MenuObject& menu,
              const plat::MenuObject::Item& item) {
    auto& system = System();
    std::string text = WithoutMnemonic(item.text);
    if (item.grayed) {
        system.notice = "\"" + text + "\" is grayed";
        system.dirty = true;
        if (Headless())
            Report("grayed", text);
        return;
    }
    unsigned commandId = item.commandId;
    if (menu.system) {
        if (!window.handler->OnSysCommand(commandId))
            DefaultSysCommand(window, commandId);
    } else {
        window.handler->OnCommand(commandId);
    }
}

std::string Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

// One headless command line: a menu item by its text, "FS Path <folder>", or a system menu item
// by its text or its first word ("About").
void HandleCommandLine(plat::WindowObject& window, const std::string& rawLine) {
    std::string line = Trim(rawLine);
    if (line.empty())
        return;
    std::string name = line;
    std::optional<std::string> folder;
    const std::string fsPath = "FS Path";
    if (line.compare(0, fsPath.size(), fsPath) == 0 &&
        (line.size() == fsPath.size() || line[fsPath.size()] == ' ')) {
        name = fsPath;
        std::string rest = Trim(std::string_view(line).substr(fsPath.size()));
        if (!rest.empty())
            folder = rest;
    }
    const plat::MenuObject* menus[] = {window.menu.get(), window.systemMenu.get()};
    for (const auto* menu : menus) {
        if (menu == nullptr)
            continue;
        for (const auto& item : menu->items) {
            if (item.separator)
                continue;
            std::string text = WithoutMnemonic(item.text);
            bool matches = text == name || (menu->system && text.rfind(name + " ", 0) == 0);
            if (!matches)
                continue;
            plat::MenuObject::Item copy = item;
            System().chosenFolder = folder;
            Activate(window, *menu, copy);
            System().chosenFolder.reset();
            return;
        }
    }
    Report("unknown command", line);
}

std::optional<std::string> TakeLine() {
    auto& input = System().input;
    auto newline = input.find('\n');
    if (newline == std::string::npos) {
        if (input.empty() || (!System().inputEnded && input.size() < MaxPendingInput))
            return std::nullopt;
        newline = input.size();
    }
    std::string line = input.substr(0, newline);
    input.erase(0, std::min(newline + 1, input.size()));
    return line;
}

struct Key {
    enum class Kind { Char, Enter, Escape, Backspace, Interrupt, ClearLine, Other };
    Kind kind = Kind::Other;
    char ch = 0;
};

Key TakeKey() {
    auto& input = System().input;
    auto byte = static_cast<unsigned char>(input[0]);
    Key key;
    std::size_t used = 1;
    if (byte == 0x1b) {
        if (input.size() > 1 && (input[1] == '[' || input[1] == 'O')) {
            // A cursor or function key: skipped up to its final byte.
            std::size_t end = 2;
            while (end < input.size() && !(input[end] >= 0x40 && input[end] <= 0x7e))
                ++end;
            used = std::min(end + 1, input.size());
        } else {
            key.kind = Key::Kind::Escape;
        }
    } else if (byte == '\r' || byte == '\n') {
        key.kind = Key::Kind::Enter;
        if (byte == '\r' && input.size() > 1 && input[1] == '\n')
            used = 2;
    } else if (byte == 0x7f || byte == 0x08) {
        key.kind = Key::Kind::Backspace;
    } else if (byte == 0x03) {
        key.kind = Key::Kind::Interrupt;
    } else if (byte == 0x15) {
        key.kind = Key::Kind::ClearLine;
    } else if (byte >= 0x20) {
        key.kind = Key::Kind::Char;
        key.ch = input[0];
    }
    input.erase(0, used);
    return key;
}

void DialogKey(plat::WindowObject& window, const Key& key) {
    switch (key.kind) {
    case Key::Kind::Enter:
        window.handler->OnCommand(plat::CommandOk);
        return;
    case Key::Kind::Escape:
        window.handler->OnCommand(plat::CommandCancel);
        return;
    case Key::Kind::Char:
        break;
    default:
        return;
    }
    char ch = key.ch >= 'A' && key.ch <= 'Z' ? static_cast<char>(key.ch - 'A' + 'a') : key.ch;
    for (const auto* menu : {window.menu.get(), window.systemMenu.get()}) {
        if (menu == nullptr)
            continue;
        for (const auto& item : menu->items)
            if (!item.separator && item.key == ch) {
                plat::MenuObject::Item copy = item;
                Activate(window, *menu, copy);
                return;
            }
    }
    // A dialog's push button: Space presses it, as does its first letter.
    for (const auto& control : window.resource->controls)
        if (control.kind == ControlResource::Kind::Button &&
            (ch == ' ' || (!control.text.empty() && ch == (control.text[0] | 0x20)))) {
            window.handler->OnCommand(static_cast<unsigned>(control.id));
            return;
        }
}

void PromptKey(Layer& layer, const Key& key) {
    switch (key.kind) {
    case Key::Kind::Char:
        if (layer.answer.size() < MaxFolderLength)
            layer.answer += key.ch;
        break;
    case Key::Kind::Backspace:
        while (!layer.answer.empty() && IsContinuation(layer.answer.back()))
            layer.answer.pop_back();
        if (!layer.answer.empty())
            layer.answer.pop_back();
        break;
    case Key::Kind::ClearLine:
        layer.answer.clear();
        break;
    case Key::Kind::Enter:
        layer.accepted = true;
        layer.done = true;
        break;
    case Key::Kind::Escape:
        layer.done = true;
        break;
    default:
        break;
    }
}

// ---- the loop ---------------------------------------------------------------------------------

bool PendingInput() {
    const auto& system = System();
    if (Headless())
        return system.input.find('\n') != std::string::npos ||
               (system.inputEnded && !system.input.empty());
    return !system.input.empty();
}

void ReadInput() {
    auto& system = System();
    char buffer[4096];
    ssize_t count = read(system.inputFd, buffer, sizeof buffer);
    if (count > 0)
        system.input.append(buffer, static_cast<std::size_t>(count));
    else if (count == 0 || (errno != EINTR && errno != EAGAIN))
        system.inputEnded = true;
}

void Draw();

// A pending exit ends the innermost box, prompt or dialog; when it reaches the outermost dialog,
// that dialog's handler gets File > Exit.
void HandleExitRequest(Layer& running) {
    auto& system = System();
    if (!system.exitRequested || Done(running))
        return;
    if (running.kind != Layer::Kind::Dialog) {
        running.done = true;
        return;
    }
    auto outermost =
        std::find_if(system.layers.begin(), system.layers.end(),
                     [](const Layer* layer) { return layer->kind == Layer::Kind::Dialog; });
    if (outermost != system.layers.end() && *outermost == &running) {
        system.exitRequested = false;
        running.window->handler->OnCommand(CommandExit);
    } else {
        running.window->ended = true;
        running.window->result = static_cast<int>(plat::CommandCancel);
    }
}

void HandleInput(Layer& running) {
    auto& system = System();
    if (Headless()) {
        while (!Done(running) && system.layers.back() == &running) {
            auto line = TakeLine();
            if (!line)
                return;
            if (running.kind == Layer::Kind::Dialog)
                HandleCommandLine(*running.window, *line);
        }
        return;
    }
    while (!Done(running) && !system.input.empty() && system.layers.back() == &running) {
        Draw(); // each key acts on what the screen shows
        Key key = TakeKey();
        system.notice.clear();
        system.dirty = true;
        if (key.kind == Key::Kind::Interrupt) {
            system.exitRequested = true;
            HandleExitRequest(running);
            continue;
        }
        switch (running.kind) {
        case Layer::Kind::Dialog:
            DialogKey(*running.window, key);
            break;
        case Layer::Kind::Box:
            if (key.kind == Key::Kind::Enter || key.kind == Key::Kind::Escape ||
                (key.kind == Key::Kind::Char && (key.ch == ' ' || key.ch == 'o' || key.ch == 'O')))
                running.done = true;
            break;
        case Layer::Kind::Prompt:
            PromptKey(running, key);
            break;
        }
    }
}

// One turn of a modal loop: draw, wait for input, a signal or the next timer, then handle them.
void Step(Layer& running) {
    auto& system = System();
    Draw();
    pollfd fds[2]{};
    nfds_t count = 0;
    int signalIndex = -1;
    int inputIndex = -1;
    if (signalPipe[0] >= 0) {
        fds[count] = {signalPipe[0], POLLIN, 0};
        signalIndex = static_cast<int>(count++);
    }
    if (!system.inputEnded) {
        fds[count] = {system.inputFd, POLLIN, 0};
        inputIndex = static_cast<int>(count++);
    }
    int timeout = MillisecondsToNextTimer();
    if (PendingInput() || system.exitRequested)
        timeout = 0;
    if (poll(fds, count, timeout) > 0) {
        if (signalIndex >= 0 && fds[signalIndex].revents != 0)
            ReadSignals();
        if (inputIndex >= 0 && (fds[inputIndex].revents & POLLNVAL) != 0)
            system.inputEnded = true;
        else if (inputIndex >= 0 && fds[inputIndex].revents != 0)
            ReadInput();
    }
    HandleExitRequest(running);
    if (!Done(running))
        HandleInput(running);
    if (!Done(running))
        RunDueTimers(running);
}

// Puts a modal thing on the stack for as long as it runs; the first one takes the terminal and
// the signals over, the last one gives them back.
class LayerScope {
  public:
    explicit LayerScope(Layer& layer) : layer_(layer) {
        auto& system = System();
        if (system.layers.empty()) {
            InstallSignals();
            if (!Headless())
                EnterTerminal(system.inputFd, system.outputFd);
        }
        system.layers.push_back(&layer_);
        system.dirty = true;
    }
    ~LayerScope() {
        auto& system = System();
        system.layers.erase(std::find(system.layers.begin(), system.layers.end(), &layer_));
        system.dirty = true;
        if (system.layers.empty()) {
            LeaveTerminal();
            RemoveSignals();
        }
    }
    LayerScope(const LayerScope&) = delete;
    LayerScope& operator=(const LayerScope&) = delete;

  private:
    Layer& layer_;
};

void RunLoop(Layer& layer) {
    while (!Done(layer))
        Step(layer);
}

int ShowBox(std::string text, std::string caption, std::uint32_t style) {
    if (Headless()) {
        Report("box", text);
        return plat::BoxResultOk;
    }
    Layer layer;
    layer.kind = Layer::Kind::Box;
    layer.text = std::move(text);
    layer.caption = std::move(caption);
    layer.style = style;
    LayerScope scope(layer);
    RunLoop(layer);
    return plat::BoxResultOk;
}

// ---- drawing ----------------------------------------------------------------------------------

class Screen {
  public:
    explicit Screen(int width) : width_(width) {}

    void Frame(std::string_view caption) {
        int columns = 0;
        std::string title = caption.empty() ? std::string() : Fit(caption, width_ - 8, &columns);
        std::string line = caption.empty() ? "+" : "+-[ " + title + " ]";
        int used = caption.empty() ? 1 : columns + 6;
        line.append(static_cast<std::size_t>(std::max(0, width_ - used - 1)), '-');
        lines_.push_back(line + "+");
    }

    // A row inside the frame; dim rows stand for grayed items.
    void Row(std::string_view text, bool dim = false, std::string_view right = {}) {
        int inner = width_ - 4;
        int rightColumns = 0;
        std::string rightText = Fit(right, inner, &rightColumns);
        int columns = 0;
        std::string body = Fit(text, std::max(0, inner - rightColumns - 1), &columns);
        std::string padding(static_cast<std::size_t>(std::max(0, inner - columns - rightColumns)),
                            ' ');
        std::string row = "| ";
        if (dim)
            row += "\x1b[2m";
        row += body + padding + rightText;
        if (dim)
            row += "\x1b[0m";
        lines_.push_back(row + " |");
    }

    void Plain(std::string_view text) {
        int columns = 0;
        lines_.push_back(Fit(text, width_, &columns));
    }

    std::string Render() const {
        std::string out = "\x1b[H";
        for (const auto& line : lines_)
            out += line + "\x1b[K\r\n";
        return out + "\x1b[J";
    }

  private:
    int width_;
    std::vector<std::string> lines_;
};

void DrawMenu(Screen& screen, const plat::MenuObject& menu, std::string_view heading) {
    std::string popup = "\x01"; // differs from every popup name
    if (menu.system && !heading.empty() && !menu.items.empty())
        screen.Row(heading);
    for (const auto& item : menu.items) {
        if (!menu.system && item.popup != popup) {
            popup = item.popup;
            screen.Row(popup.empty() ? std::string(heading) : WithoutMnemonic(popup));
        }
        if (item.separator) {
            screen.Row("  ----------");
            continue;
        }
        std::string key = item.key != 0 ? std::string("[") + item.key + "] " : "    ";
        std::string state = item.grayed ? "grayed" : "";
        if (item.checked)
            state = state.empty() ? "checked" : "checked, " + state;
        screen.Row("  " + key + WithoutMnemonic(item.text), item.grayed, state);
    }
}

void DrawDialog(Screen& screen, const plat::WindowObject& window) {
    const DialogResource& resource = *window.resource;
    screen.Frame(resource.caption);
    // Static texts in rows by their place in the template, left to right.
    std::map<int, std::vector<std::pair<int, std::string>>> rows;
    std::string buttons;
    for (const auto& control : resource.controls) {
        if (control.kind == ControlResource::Kind::Button) {
            buttons += "[ " + std::string(control.text) + " ]  ";
            continue;
        }
        if (control.kind != ControlResource::Kind::Text)
            continue;
        auto text = window.texts.find(control.id);
        rows[control.y].emplace_back(control.x,
                                     control.id != NoControl && text != window.texts.end()
                                         ? text->second
                                         : std::string(control.text));
    }
    for (auto& [y, row] : rows) {
        std::sort(row.begin(), row.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string line;
        for (const auto& [x, text] : row)
            line += (line.empty() ? "" : " ") + text;
        screen.Row(line);
    }
    if (!buttons.empty())
        screen.Row("", false, buttons.substr(0, buttons.size() - 2));
    if (window.menu != nullptr) {
        screen.Frame("Menu");
        DrawMenu(screen, *window.menu, "Menu");
    }
    if (window.systemMenu != nullptr && !window.systemMenu->items.empty()) {
        screen.Frame("System menu");
        DrawMenu(screen, *window.systemMenu, "");
    }
    screen.Frame("");
}

void DrawBox(Screen& screen, const Layer& layer, int width) {
    screen.Frame(layer.caption);
    std::string icon = (layer.style & 0xF0) == plat::BoxIconError         ? "(X) "
                       : (layer.style & 0xF0) == plat::BoxIconExclamation ? "(!) "
                                                                          : "";
    std::size_t inner = static_cast<std::size_t>(std::max(8, width - 4 - 4));
    std::size_t start = 0;
    bool first = true;
    while (start <= layer.text.size()) {
        std::size_t end = layer.text.find('\n', start);
        if (end == std::string::npos)
            end = layer.text.size();
        std::string_view part(layer.text.data() + start, end - start);
        do {
            std::string_view piece = part.substr(0, std::min(inner, part.size()));
            screen.Row((first ? icon : std::string(icon.size(), ' ')) + std::string(piece));
            first = false;
            part.remove_prefix(piece.size());
        } while (!part.empty());
        start = end + 1;
    }
    screen.Row("", false, "[ OK ]");
    screen.Frame("");
}

void DrawPrompt(Screen& screen, const Layer& layer, int width) {
    screen.Frame(layer.caption);
    screen.Row(layer.text);
    // The end of a long answer stays in view.
    std::size_t room = static_cast<std::size_t>(std::max(4, width - 8));
    std::string_view answer = layer.answer;
    if (answer.size() > room)
        answer.remove_prefix(answer.size() - room);
    screen.Row("> " + std::string(answer) + "_");
    screen.Frame("");
}

void Draw() {
    auto& system = System();
    if (Headless() || !system.dirty || system.layers.empty())
        return;
    system.dirty = false;
    int width = std::clamp(QueryTerminalSize(system.outputFd).columns, 24, 64);
    Screen screen(width);
    for (const Layer* layer : system.layers) {
        switch (layer->kind) {
        case Layer::Kind::Dialog:
            DrawDialog(screen, *layer->window);
            break;
        case Layer::Kind::Box:
            DrawBox(screen, *layer, width);
            break;
        case Layer::Kind::Prompt:
            DrawPrompt(screen, *layer, width);
            break;
        }
    }
    const Layer& top = *system.layers.back();
    if (top.kind == Layer::Kind::Box)
        screen.Plain("Enter: OK");
    else if (top.kind == Layer::Kind::Prompt)
        screen.Plain("Type the folder. Enter: OK  Esc: Cancel");
    else if (top.window->menu != nullptr ||
             (top.window->systemMenu != nullptr && !top.window->systemMenu->items.empty()))
        screen.Plain("Keys: [letter] menu item  Enter: OK  Esc: Cancel  Ctrl-C: Exit");
    else
        screen.Plain("Enter or Space: OK  Esc: Cancel");
    if (!system.notice.empty())
        screen.Plain(system.notice);
    WriteAll(system.outputFd, screen.Render());
}

std::string ProgramNameFromExecutable() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "skyrelay";
    std::string name(path, static_cast<std::size_t>(length));
    name = name.substr(name.find_last_of('/') + 1);
    auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name.empty() ? "skyrelay" : name;
}

} // namespace

// ---- posix controls ---------------------------------------------------------------------------

void SetHeadless(bool headless) {
    System().headless = headless;
}

bool Headless() {
    const auto& system = System();
    if (system.headless)
        return *system.headless;
    return !(isatty(system.inputFd) && isatty(system.outputFd));
}

void SetDialogStreams(int inputFd, int outputFd, int reportFd) {
    auto& system = System();
    system.inputFd = inputFd;
    system.outputFd = outputFd;
    system.reportFd = reportFd;
    system.input.clear();
    system.inputEnded = false;
    system.dirty = true;
}

void SetProgramName(const std::string& name) {
    System().programName = name;
}

std::string ProgramName() {
    auto& system = System();
    if (system.programName.empty())
        system.programName = ProgramNameFromExecutable();
    return system.programName;
}

void ResetDialog() {
    System() = DialogSystem{};
}

} // namespace posix

namespace plat {

using posix::System;

void SetControlText(Window dialog, int controlId, const char* text) {
    auto* window = posix::Live(dialog);
    if (window == nullptr)
        return;
    std::string value = text != nullptr ? text : "";
    window->texts[controlId] = value;
    System().dirty = true;
    if (posix::Headless()) {
        if (controlId == 104)
            posix::Report("status", value);
        else if (controlId == 1007)
            posix::Report("path", value);
    }
}

Menu GetWindowMenu(Window dialog) {
    auto* window = posix::Live(dialog);
    return window != nullptr ? window->menu.get() : nullptr;
}

Menu GetWindowSystemMenu(Window window) {
    auto* live = posix::Live(window);
    return live != nullptr ? live->systemMenu.get() : nullptr;
}

void EnableMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags) {
    if (auto* live = posix::LiveMenu(menu))
        for (auto& item : live->items)
            if (!item.separator && item.commandId == commandId) {
                item.grayed = (flags & MenuGrayed) != 0;
                System().dirty = true;
                return;
            }
}

void CheckMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags) {
    if (auto* live = posix::LiveMenu(menu))
        for (auto& item : live->items)
            if (!item.separator && item.commandId == commandId) {
                item.checked = (flags & MenuChecked) != 0;
                System().dirty = true;
                return;
            }
}

int AppendMenuCommand(Menu menu, std::uint32_t flags, unsigned commandId, const char* text) {
    auto* live = posix::LiveMenu(menu);
    if (live == nullptr)
        return 0;
    MenuObject::Item item;
    if ((flags & MenuSeparator) != 0) {
        item.separator = true;
    } else {
        if (text == nullptr)
            return 0;
        item.text = text;
        item.commandId = commandId;
        char key = posix::MnemonicKey(text);
        if (key != 0 && !posix::KeyInUse(*posix::OwnerOf(live), key))
            item.key = key;
        item.grayed = (flags & MenuGrayed) != 0;
        item.checked = (flags & MenuChecked) != 0;
    }
    live->items.push_back(std::move(item));
    System().dirty = true;
    return 1;
}

std::string LoadResourceString(unsigned stringId) {
    return std::string(posix::FindStringResource(stringId));
}

Icon LoadAppIcon(int iconId) {
    static IconObject appIcon{103};
    return posix::HasIconResource(iconId) ? &appIcon : nullptr;
}

void SetWindowIcon(Window window, int which, Icon icon) {
    if (auto* live = posix::Live(window))
        live->icons[which == IconBig ? 1 : 0] = icon;
}

// The terminal dialog is never minimized, so there is no icon to paint.
bool IsWindowMinimized(Window) {
    return false;
}

Extent SystemIconSize() {
    return {32, 32};
}

Extent ClientAreaSize(Window window) {
    if (posix::Live(window) == nullptr)
        return {};
    auto size = posix::QueryTerminalSize(System().outputFd);
    return {size.columns, size.rows};
}

void PaintIconAt(Window, Icon, int, int) {}

TimerId StartTimer(Window dialog, unsigned timerId, unsigned periodMs, TimerProc callback) {
    if (posix::Live(dialog) == nullptr || timerId == 0)
        return 0;
    auto& timers = System().timers;
    std::erase_if(timers,
                  [&](const posix::Timer& t) { return t.window == dialog && t.id == timerId; });
    unsigned period = std::max(periodMs, posix::MinimumPeriodMs);
    timers.push_back({dialog, timerId, period, callback,
                      posix::Clock::now() + std::chrono::milliseconds(period),
                      System().nextSerial++});
    return timerId;
}

void StopTimer(Window dialog, TimerId timerId) {
    std::erase_if(System().timers,
                  [&](const posix::Timer& t) { return t.window == dialog && t.id == timerId; });
}

int ShowMessageBox(Window, const char* text, const char* caption, std::uint32_t style) {
    return posix::ShowBox(text != nullptr ? text : "", caption != nullptr ? caption : "Error",
                          style);
}

int ShowAppMessageBox(const char* text, std::uint32_t style) {
    return posix::ShowBox(text != nullptr ? text : "", posix::ProgramName(), style);
}

bool BrowseForFolder(const char* title, std::uint32_t, std::string* path) {
    if (path == nullptr)
        return false;
    auto& system = System();
    if (posix::Headless()) {
        if (!system.chosenFolder)
            return false;
        *path = *system.chosenFolder;
        system.chosenFolder.reset();
        return true;
    }
    posix::Layer layer;
    layer.kind = posix::Layer::Kind::Prompt;
    layer.caption = "Browse For Folder";
    layer.text = title != nullptr ? title : "";
    {
        posix::LayerScope scope(layer);
        posix::RunLoop(layer);
    }
    if (!layer.accepted || layer.answer.empty())
        return false;
    *path = layer.answer;
    return true;
}

void WaitForEventOrInput(Event event) {
    auto& system = System();
    int eventFd = posix::EventDescriptor(event);
    auto takeEvent = [eventFd] {
        std::uint64_t count = 0;
        return read(eventFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
    };
    if (eventFd >= 0 && takeEvent())
        return;
    pollfd fds[3]{};
    nfds_t count = 0;
    if (eventFd >= 0)
        fds[count++] = {eventFd, POLLIN, 0};
    if (posix::signalPipe[0] >= 0 && posix::signalsInstalled)
        fds[count++] = {posix::signalPipe[0], POLLIN, 0};
    if (!system.inputEnded)
        fds[count++] = {system.inputFd, POLLIN, 0};
    int timeout = posix::MillisecondsToNextTimer();
    if (posix::PendingInput() || system.exitRequested)
        timeout = 0;
    if (count == 0 && timeout < 0)
        return; // nothing could ever end the wait
    if (poll(fds, count, timeout) > 0 && eventFd >= 0 && (fds[0].revents & POLLIN) != 0)
        takeEvent();
}

int RunModalDialog(const char* templateName, int templateId, DialogHandler* handler) {
    const auto* resource = posix::FindDialogResource(templateName, templateId);
    if (resource == nullptr || handler == nullptr)
        return -1;
    auto& system = System();
    auto owned = std::make_unique<WindowObject>();
    WindowObject* window = owned.get();
    window->resource = resource;
    window->handler = handler;
    for (const auto& control : resource->controls)
        if (control.id != posix::NoControl && control.kind == posix::ControlResource::Kind::Text)
            window->texts[control.id] = std::string(control.text);
    if (!resource->menuName.empty())
        if (const auto* menu = posix::FindMenuResource(resource->menuName))
            window->menu = posix::MenuFromResource(*menu);
    if (resource->systemMenu) {
        window->systemMenu = std::make_unique<MenuObject>();
        window->systemMenu->system = true;
    }
    system.windows.push_back(std::move(owned));

    posix::Layer layer;
    layer.kind = posix::Layer::Kind::Dialog;
    layer.window = window;
    int result = 0;
    {
        posix::LayerScope scope(layer);
        handler->OnInitDialog(window);
        if (posix::Headless() && window->menu == nullptr && !window->ended) {
            // Nobody can press its button: it is shown as a line and closed at once.
            posix::Report("dialog", resource->caption);
            handler->OnCommand(CommandOk);
            if (!window->ended) {
                window->ended = true;
                window->result = static_cast<int>(CommandOk);
            }
        }
        posix::RunLoop(layer);
        result = window->result;
    }
    // The window goes, and its timers with it.
    std::erase_if(system.timers, [window](const posix::Timer& t) { return t.window == window; });
    std::erase_if(system.windows, [window](const auto& w) { return w.get() == window; });
    return result;
}

void EndModalDialog(Window dialog, int result) {
    if (auto* window = posix::Live(dialog)) {
        window->ended = true;
        window->result = result;
    }
}

} // namespace plat
