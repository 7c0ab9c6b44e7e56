// The fake main dialog, timers, message boxes, COM and session event.
#include "platform/fake/fake.h"

#include <map>
#include <memory>

namespace fake {
namespace {

struct DialogState {
    std::map<int, std::vector<std::string>> controlTexts;
    std::map<unsigned, MenuItemState> menu;
    std::map<unsigned, TimerState> timers;
    std::vector<MessageBoxRecord> boxes;
    std::function<void(const MessageBoxRecord&)> whileBoxOpen;
    std::function<void()> whileWaiting;
    std::function<void(plat::Window, plat::DialogHandler&)> whileMainDialogRuns;
    bool comInitialized = false;
    int liveEvents = 0;
    std::map<plat::Event, bool> events;
    plat::Window modalWindow = nullptr;
    std::optional<int> modalResult;
    bool hasSystemMenu = true;
    std::map<plat::Menu, std::vector<AppendedMenuItem>> appended;
    std::map<unsigned, std::string> strings{{101, "&About Skyrelay"}};
    std::map<std::pair<plat::Window, int>, plat::Icon> windowIcons;
    bool minimized = false;
    plat::Extent iconSize{32, 32};
    plat::Extent clientSize{202, 60};
    std::vector<IconPaint> paints;
};

DialogState& State() {
    static DialogState state;
    return state;
}

void ResetDialog() {
    State() = DialogState{};
}
ResetHook dialogReset(&ResetDialog);

// Stand-in handles: addresses of static objects, never dereferenced by anyone.
char mainWindowTag;
char mainMenuTag;
char aboutWindowTag;
char systemMenuTag;
char appIconTag;

std::string Quote(const char* text) {
    return text ? std::string("\"") + text + "\"" : "null";
}

} // namespace

plat::Window MainWindow() {
    return reinterpret_cast<plat::Window>(&mainWindowTag);
}
plat::Menu MainMenu() {
    return reinterpret_cast<plat::Menu>(&mainMenuTag);
}

std::string ControlText(int controlId) {
    auto it = State().controlTexts.find(controlId);
    return it == State().controlTexts.end() || it->second.empty() ? std::string()
                                                                  : it->second.back();
}

std::vector<std::string> ControlTextHistory(int controlId) {
    auto it = State().controlTexts.find(controlId);
    return it == State().controlTexts.end() ? std::vector<std::string>{} : it->second;
}

void SetInitialControlText(int controlId, const std::string& text) {
    State().controlTexts[controlId] = {text};
}

MenuItemState MenuItem(unsigned commandId) {
    return State().menu[commandId];
}

bool TimerRunning(unsigned timerId) {
    return State().timers.count(timerId) != 0;
}

std::optional<TimerState> Timer(unsigned timerId) {
    auto it = State().timers.find(timerId);
    if (it == State().timers.end())
        return std::nullopt;
    return it->second;
}

bool FireTimer(unsigned timerId) {
    auto it = State().timers.find(timerId);
    if (it == State().timers.end() || it->second.callback == nullptr)
        return false;
    it->second.callback();
    return true;
}

const std::vector<MessageBoxRecord>& MessageBoxes() {
    return State().boxes;
}

std::vector<std::string> MessageBoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : State().boxes)
        texts.push_back(box.text);
    return texts;
}

void WhileMessageBoxOpen(std::function<void(const MessageBoxRecord&)> action) {
    State().whileBoxOpen = std::move(action);
}

plat::Menu MainSystemMenu() {
    return reinterpret_cast<plat::Menu>(&systemMenuTag);
}

void SetHasSystemMenu(bool has) {
    State().hasSystemMenu = has;
}

std::vector<AppendedMenuItem> AppendedItems(plat::Menu menu) {
    auto it = State().appended.find(menu);
    return it == State().appended.end() ? std::vector<AppendedMenuItem>{} : it->second;
}

void SetResourceString(unsigned stringId, const std::string& text) {
    if (text.empty())
        State().strings.erase(stringId);
    else
        State().strings[stringId] = text;
}

plat::Icon AppIcon() {
    return reinterpret_cast<plat::Icon>(&appIconTag);
}

plat::Icon WindowIcon(plat::Window window, int which) {
    auto it = State().windowIcons.find({window, which});
    return it == State().windowIcons.end() ? nullptr : it->second;
}

void SetMinimized(bool minimized) {
    State().minimized = minimized;
}
void SetSystemIconSize(plat::Extent size) {
    State().iconSize = size;
}
void SetClientAreaSize(plat::Extent size) {
    State().clientSize = size;
}
const std::vector<IconPaint>& IconPaints() {
    return State().paints;
}

bool ComInitialized() {
    return State().comInitialized;
}
int LiveEvents() {
    return State().liveEvents;
}

bool EventSignalled(plat::Event event) {
    auto it = State().events.find(event);
    return it != State().events.end() && it->second;
}

void WhileMainDialogRuns(std::function<void(plat::Window, plat::DialogHandler&)> action) {
    State().whileMainDialogRuns = std::move(action);
}

void WhileWaiting(std::function<void()> action) {
    State().whileWaiting = std::move(action);
}

} // namespace fake

namespace plat {

using fake::Enter;
using fake::State;

void SetControlText(Window dialog, int controlId, const char* text) {
    Enter("SetControlText", std::to_string(controlId) + " " + fake::Quote(text));
    if (dialog == nullptr)
        return;
    State().controlTexts[controlId].push_back(text ? text : "");
}

Menu GetWindowMenu(Window dialog) {
    Enter("GetWindowMenu");
    return dialog == fake::MainWindow() ? fake::MainMenu() : nullptr;
}

void EnableMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags) {
    Enter("EnableMenuCommand", std::to_string(commandId) + " " + std::to_string(flags));
    if (menu != nullptr)
        State().menu[commandId].grayed = (flags & MenuGrayed) != 0;
}

void CheckMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags) {
    Enter("CheckMenuCommand", std::to_string(commandId) + " " + std::to_string(flags));
    if (menu != nullptr)
        State().menu[commandId].checked = (flags & MenuChecked) != 0;
}

TimerId StartTimer(Window dialog, unsigned timerId, unsigned periodMs, TimerProc callback) {
    if (auto failure =
            Enter("StartTimer", std::to_string(timerId) + " " + std::to_string(periodMs)))
        return 0;
    if (dialog == nullptr)
        return 0;
    State().timers[timerId] = fake::TimerState{periodMs, callback};
    return timerId;
}

void StopTimer(Window, TimerId timerId) {
    Enter("StopTimer", std::to_string(timerId));
    State().timers.erase(static_cast<unsigned>(timerId));
}

int ShowMessageBox(Window owner, const char* text, const char* caption, std::uint32_t style) {
    Enter("ShowMessageBox", fake::Quote(text));
    fake::MessageBoxRecord box{owner != nullptr, false, text ? text : "", caption ? caption : "",
                               style};
    State().boxes.push_back(box);
    if (State().whileBoxOpen)
        State().whileBoxOpen(box);
    return BoxResultOk;
}

int ShowAppMessageBox(const char* text, std::uint32_t style) {
    Enter("ShowAppMessageBox", fake::Quote(text));
    fake::MessageBoxRecord box{true, true, text ? text : "", "", style};
    State().boxes.push_back(box);
    if (State().whileBoxOpen)
        State().whileBoxOpen(box);
    return BoxResultOk;
}

std::string LoadResourceString(unsigned stringId) {
    if (Enter("LoadResourceString", std::to_string(stringId)))
        return {};
    auto it = State().strings.find(stringId);
    return it == State().strings.end() ? std::string() : it->second;
}

Menu GetWindowSystemMenu(Window window) {
    if (Enter("GetWindowSystemMenu"))
        return nullptr;
    return window == fake::MainWindow() && State().hasSystemMenu ? fake::MainSystemMenu() : nullptr;
}

int AppendMenuCommand(Menu menu, std::uint32_t flags, unsigned commandId, const char* text) {
    if (auto failure =
            Enter("AppendMenuCommand", std::to_string(flags) + " " + std::to_string(commandId) +
                                           " " + fake::Quote(text)))
        return static_cast<int>(*failure);
    if (menu == nullptr)
        return 0;
    bool separator = (flags & MenuSeparator) != 0;
    State().appended[menu].push_back(
        {flags, separator ? 0u : commandId, separator || text == nullptr ? "" : text});
    return 1;
}

Icon LoadAppIcon(int iconId) {
    if (Enter("LoadAppIcon", std::to_string(iconId)))
        return nullptr;
    return iconId == 103 ? fake::AppIcon() : nullptr;
}

void SetWindowIcon(Window window, int which, Icon icon) {
    Enter("SetWindowIcon", std::to_string(which));
    if (window != nullptr)
        State().windowIcons[{window, which}] = icon;
}

bool IsWindowMinimized(Window window) {
    Enter("IsWindowMinimized");
    return window != nullptr && State().minimized;
}

Extent SystemIconSize() {
    Enter("SystemIconSize");
    return State().iconSize;
}

Extent ClientAreaSize(Window window) {
    Enter("ClientAreaSize");
    return window != nullptr ? State().clientSize : Extent{};
}

void PaintIconAt(Window window, Icon icon, int x, int y) {
    Enter("PaintIconAt", std::to_string(x) + " " + std::to_string(y));
    if (window != nullptr)
        State().paints.push_back({icon, x, y});
}

// A failure injected into the claim is the running relay's process id.
bool ClaimRelayInstance(std::uint32_t* runningRelay) {
    auto running = Enter("ClaimRelayInstance");
    if (runningRelay != nullptr)
        *runningRelay = running ? static_cast<std::uint32_t>(*running) : 0;
    return !running;
}

void ShowRunningRelay(const char* line) {
    Enter("ShowRunningRelay", fake::Quote(line));
}

void OleInitialize() {
    Enter("OleInitialize");
}

HRESULT ComInitialize() {
    if (auto failure = Enter("ComInitialize"))
        return static_cast<HRESULT>(*failure);
    State().comInitialized = true;
    return hresult::Ok;
}

void ComUninitialize() {
    Enter("ComUninitialize");
    State().comInitialized = false;
}

Event CreateSessionEvent() {
    if (Enter("CreateSessionEvent"))
        return nullptr;
    // Distinct, never dereferenced handles.
    static std::vector<std::unique_ptr<char>> tags;
    tags.push_back(std::make_unique<char>());
    auto event = reinterpret_cast<Event>(tags.back().get());
    State().events[event] = false;
    ++State().liveEvents;
    return event;
}

void SignalSessionEvent(Event event) {
    Enter("SignalSessionEvent");
    if (event != nullptr)
        State().events[event] = true;
}

int CloseSessionEvent(Event event) {
    if (Enter("CloseSessionEvent"))
        return 0;
    auto it = State().events.find(event);
    if (event == nullptr || it == State().events.end())
        return 0;
    State().events.erase(it);
    --State().liveEvents;
    return 1;
}

void WaitForEventOrInput(Event event) {
    Enter("WaitForEventOrInput");
    if (State().whileWaiting)
        State().whileWaiting();
    auto it = State().events.find(event);
    if (it != State().events.end())
        it->second = false;
}

int RunModalDialog(const char* templateName, int templateId, DialogHandler* handler) {
    Enter("RunModalDialog", templateName ? std::string(templateName) : std::to_string(templateId));
    if (handler == nullptr)
        return -1;
    // The main dialog's template is 102; any other (the About box) gets a window of its own.
    Window self = templateName == nullptr && templateId == 102
                      ? fake::MainWindow()
                      : reinterpret_cast<Window>(&fake::aboutWindowTag);
    Window outer = State().modalWindow;
    State().modalWindow = self;
    State().modalResult.reset();
    handler->OnInitDialog(self);
    if (self == fake::MainWindow() && State().whileMainDialogRuns)
        State().whileMainDialogRuns(self, *handler);
    int result = State().modalResult.value_or(BoxResultOk);
    State().modalWindow = outer;
    return result;
}

void EndModalDialog(Window dialog, int result) {
    Enter("EndModalDialog", std::to_string(result));
    if (dialog == State().modalWindow)
        State().modalResult = result;
}

} // namespace plat
