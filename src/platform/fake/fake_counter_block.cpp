// Fake counter block: a block per name in the test process's memory, neither logged nor counted
// with the other fake calls.
#include "platform/fake/fake.h"
#include "platform/fake/fake_shared_memory.h"
#include "platform/shared_memory.h"

#include <map>
#include <memory>

namespace fake {
namespace {

struct CounterBlockState {
    bool fail = false;
    std::map<std::string, std::shared_ptr<std::vector<std::uint8_t>>> byName;
    std::map<void*, std::shared_ptr<std::vector<std::uint8_t>>> open; // by view
};

CounterBlockState& State() {
    static CounterBlockState state;
    return state;
}

// Blocks of earlier tests. The core keeps its view until its own reset, which a test that never
// looks at the counters does not call: the bytes behind such a view stay valid.
std::vector<std::shared_ptr<std::vector<std::uint8_t>>>& Retired() {
    static std::vector<std::shared_ptr<std::vector<std::uint8_t>>> retired;
    return retired;
}

void ResetCounterBlocks() {
    for (auto& [name, bytes] : State().byName)
        Retired().push_back(bytes);
    State() = CounterBlockState{};
}
ResetHook counterBlockReset(&ResetCounterBlocks);

} // namespace

void FailCounterBlock(bool fail) {
    State().fail = fail;
}

void LeaveCounterBlock(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    State().byName[name] = std::make_shared<std::vector<std::uint8_t>>(bytes);
}

std::vector<std::uint8_t> CounterBlockBytes(const std::string& name) {
    auto it = State().byName.find(name);
    return it == State().byName.end() ? std::vector<std::uint8_t>{} : *it->second;
}

int LiveCounterBlocks() {
    return static_cast<int>(State().open.size());
}

} // namespace fake

namespace plat {

void* OpenCounterBlock(const char* name, std::size_t size) {
    auto& state = fake::State();
    if (state.fail || name == nullptr || size == 0)
        return nullptr;
    auto& bytes = state.byName[name];
    if (!bytes)
        bytes = std::make_shared<std::vector<std::uint8_t>>(size, 0);
    // A block that is open (another relay's) is left alone.
    if (bytes->size() < size || state.open.count(bytes->data()) != 0)
        return nullptr;
    state.open[bytes->data()] = bytes;
    return bytes->data();
}

void CloseCounterBlock(void* view) {
    fake::State().open.erase(view);
}

} // namespace plat
