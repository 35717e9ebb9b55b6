// BoolMask: a flat, immutable sequence of booleans shared between masks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace boundwise {

class BoolMask {
public:
    BoolMask() : bytes_(std::make_shared<const std::vector<std::uint8_t>>()) {}
    explicit BoolMask(std::vector<std::uint8_t> bytes)
        : bytes_(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))) {}

    std::size_t size() const { return bytes_->size(); }
    bool operator[](std::size_t i) const { return (*bytes_)[i] != 0; }
    const std::vector<std::uint8_t>& bytes() const { return *bytes_; }

private:
    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;  // atomic count, never written after construction
};

}  // namespace boundwise
