// BoolMask: a flat, immutable sequence of booleans (one byte each, 0 or 1)
// shared between masks.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace boundwise {

class BoolMask {
public:
    BoolMask() = default;
    // A copy of `bytes`, each of which must be 0 or 1.
    explicit BoolMask(std::span<const std::uint8_t> bytes);

    // A mask of n bytes written by fill(std::uint8_t* out) before anything can
    // share it; `out` is uninitialised, so fill must write every byte.
    template <class Fill>
    static BoolMask build(std::size_t n, Fill&& fill) {
        BoolMask mask;
        if (n == 0) return mask;
        auto bytes = std::make_shared_for_overwrite<std::uint8_t[]>(n);
        fill(bytes.get());
        mask.bytes_ = std::move(bytes);
        mask.size_ = n;
        return mask;
    }

    std::size_t size() const { return size_; }
    bool operator[](std::size_t i) const { return bytes_[i] != 0; }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::span<const std::uint8_t> bytes() const { return {bytes_.get(), size_}; }

private:
    std::shared_ptr<const std::uint8_t[]> bytes_;  // atomic count, never written after build
    std::size_t size_ = 0;
};

inline BoolMask::BoolMask(std::span<const std::uint8_t> bytes) {
    *this = build(bytes.size(), [&](std::uint8_t* out) {
        for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = bytes[i];
    });
}

}  // namespace boundwise
