// Field access on LAS byte images: little-endian loads and stores through
// memcpy at the offsets the packed layouts of LiDAR.h pin down.
#pragma once

#include "LiDAR.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace lidar {

static_assert(std::endian::native == std::endian::little,
              "LAS images are little-endian and are read in place on little-endian hosts only");

template <typename T>
inline T load(const std::uint8_t *at) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
inline void store(std::uint8_t *at, T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    std::memcpy(at, &value, sizeof value);
}

// Reads or writes the field of a LAS12Header (or point record) image by name.
#define LAS_GET(image, Type, field) \
    ::lidar::load<decltype(Type::field)>((image) + offsetof(Type, field))
#define LAS_SET(image, Type, field, value) \
    ::lidar::store<decltype(Type::field)>((image) + offsetof(Type, field), (value))

// Record size of each point format, 0 for formats outside 0-3.
constexpr unsigned point_record_size(unsigned format) {
    switch (format) {
    case 0: return sizeof(LAS12fm0);
    case 1: return sizeof(LAS12fm1);
    case 2: return sizeof(LAS12fm2);
    case 3: return sizeof(LAS12fm3);
    default: return 0;
    }
}

// The header fields that say where the records are and how many there are.
struct PointDataLayout {
    std::uint16_t headerSize;
    std::uint32_t offsetToData;
    std::uint16_t recordLength;
    std::uint32_t recordCount;

    std::uint64_t bytes_needed() const {
        return std::uint64_t{offsetToData} + std::uint64_t{recordCount} * recordLength;
    }
};

inline PointDataLayout point_data_layout(const std::uint8_t *header) {
    return {LAS_GET(header, LAS12Header, HeaderSize), LAS_GET(header, LAS12Header, OffsetToData),
            LAS_GET(header, LAS12Header, PointDataRecordLength),
            LAS_GET(header, LAS12Header, NumberOfPointReturns)};
}

}  // namespace lidar
