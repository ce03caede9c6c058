// Animated<T>: one property of the composition model (a layer's position, a light's intensity, a
// camera's zoom) as a constant or as keyframes in composition seconds, with linear or hold
// interpolation. The rules match the effect parameters' streams (param_stream.h): before the first
// key the first value, after the last key the last value, and a hold key keeps its value until the
// next key. T needs +, - and * double (double and Vec3 have them).
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "minihost/param_stream.h"

namespace minihost {

template <typename T>
class Animated {
public:
    struct Key {
        double seconds = 0;
        T value{};
        Interpolation interpolation = Interpolation::Linear;
    };

    Animated() = default;
    Animated(const T& constant) : constant_(constant) {}  // NOLINT: a constant reads as its value

    void set(const T& constant) {
        constant_ = constant;
        keys_.clear();
    }
    // A key at a time that already has one replaces it.
    void addKey(double seconds, const T& value, Interpolation interpolation = Interpolation::Linear) {
        auto at = std::find_if(keys_.begin(), keys_.end(), [&](const Key& k) { return k.seconds >= seconds; });
        if (at != keys_.end() && at->seconds == seconds)
            *at = Key{seconds, value, interpolation};
        else
            keys_.insert(at, Key{seconds, value, interpolation});
    }

    bool isAnimated() const { return !keys_.empty(); }
    const std::vector<Key>& keys() const { return keys_; }
    std::size_t keyCount() const { return keys_.size(); }

    T at(double seconds) const {
        if (keys_.empty()) return constant_;
        if (seconds <= keys_.front().seconds) return keys_.front().value;
        if (seconds >= keys_.back().seconds) return keys_.back().value;
        auto next = std::find_if(keys_.begin(), keys_.end(), [&](const Key& k) { return k.seconds > seconds; });
        const Key& a = *(next - 1);
        const Key& b = *next;
        if (a.interpolation == Interpolation::Hold) return a.value;
        double f = (seconds - a.seconds) / (b.seconds - a.seconds);
        return a.value + (b.value - a.value) * f;
    }

    // Applies f to the constant and every key's value (rescaling a composition).
    template <typename F>
    void transform(F f) {
        constant_ = f(constant_);
        for (Key& k : keys_) k.value = f(k.value);
    }

private:
    T constant_{};
    std::vector<Key> keys_;  // ascending by time
};

}  // namespace minihost
