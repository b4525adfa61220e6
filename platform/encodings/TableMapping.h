#pragma once
// One entry of a conversion table generated from ICU at build time (see generate/).

#include <cstddef>
#include <cstdint>

namespace tarnwick::encoding {

struct TableMapping {
    std::uint16_t key;
    std::uint16_t value;
};

} // namespace tarnwick::encoding
