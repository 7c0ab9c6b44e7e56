#include "platform/fake/fake.h"

#include <map>
#include <memory>

namespace fake {
namespace {

std::vector<void (*)()>& ResetHooks() {
    static std::vector<void (*)()> hooks;
    return hooks;
}

struct Injection {
    int nth;
    long result;
};

struct CallLog {
    std::vector<std::string> lines;
    std::map<std::string, int, std::less<>> counts;
    std::multimap<std::string, Injection, std::less<>> injections;
};

CallLog& Log() {
    static CallLog log;
    return log;
}

} // namespace

ResetHook::ResetHook(void (*reset)()) {
    ResetHooks().push_back(reset);
}

void ResetAll() {
    Log() = CallLog{};
    for (auto reset : ResetHooks())
        reset();
}

std::optional<long> Enter(std::string_view operation, const std::string& arguments) {
    CallLog& log = Log();
    log.lines.push_back(arguments.empty() ? std::string(operation)
                                          : std::string(operation) + " " + arguments);
    auto count = log.counts.find(operation);
    if (count == log.counts.end())
        count = log.counts.emplace(std::string(operation), 0).first;
    int n = ++count->second;
    auto [first, last] = log.injections.equal_range(operation);
    for (auto it = first; it != last; ++it)
        if (it->second.nth == 0 || it->second.nth == n)
            return it->second.result;
    return std::nullopt;
}

void FailCall(std::string_view operation, int nth, long result) {
    Log().injections.emplace(std::string(operation), Injection{nth, result});
}

const std::vector<std::string>& Calls() {
    return Log().lines;
}

std::vector<std::string> CallsOf(std::string_view operation) {
    std::vector<std::string> out;
    for (const auto& line : Log().lines)
        if (line.size() >= operation.size() && line.compare(0, operation.size(), operation) == 0 &&
            (line.size() == operation.size() || line[operation.size()] == ' '))
            out.push_back(line);
    return out;
}

int CallCount(std::string_view operation) {
    auto it = Log().counts.find(operation);
    return it == Log().counts.end() ? 0 : it->second;
}

void ClearCalls() {
    Log().lines.clear();
}

} // namespace fake
