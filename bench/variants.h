// The ways each hot path is measured. Every path benchmark is registered once per variant, under
// its name plus the variant's suffix; its lower-bound kernel is registered once, so the ratios of
// every variant are taken against the same kernel.
#pragma once

#include <vector>

namespace bench {

struct Variant {
    const char* suffix; // appended to the benchmark's name ("" for the plain build)
    void (*enter)();    // run before the benchmark's loop; null for nothing
    void (*leave)();    // run after it; null for nothing
};

// Another variant (the relay's counters switched on, say) is one more row here.
inline const std::vector<Variant>& Variants() {
    static const std::vector<Variant> variants{{"", nullptr, nullptr}};
    return variants;
}

// Runs the variant's enter now and its leave when the scope ends.
class Scope {
  public:
    explicit Scope(const Variant& variant) : variant_(variant) {
        if (variant_.enter != nullptr)
            variant_.enter();
    }
    ~Scope() {
        if (variant_.leave != nullptr)
            variant_.leave();
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    const Variant& variant_;
};

} // namespace bench
