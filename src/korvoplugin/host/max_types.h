// Basic value types of the host SDK: texts, time, class identifiers and intervals.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

using MCHAR = wchar_t;
// Texts are wide strings throughout; MSTR and WStr are the host's names for them.
using MSTR = std::wstring;
using WStr = std::wstring;

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using ULONG = std::uint32_t;
using LONG = std::int32_t;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Time in ticks; every operation of the system works at time 0.
using TimeValue = int;
constexpr TimeValue TIME_NegInfinity = INT_MIN;
constexpr TimeValue TIME_PosInfinity = INT_MAX;

class Interval {
  public:
    constexpr Interval() = default;
    constexpr Interval(TimeValue start, TimeValue end) : start_(start), end_(end) {}
    constexpr TimeValue Start() const { return start_; }
    constexpr TimeValue End() const { return end_; }
    void SetInfinite() { *this = Interval(TIME_NegInfinity, TIME_PosInfinity); }
    // Narrows this interval to its overlap with another one.
    Interval& operator&=(const Interval& other) {
        start_ = start_ > other.start_ ? start_ : other.start_;
        end_ = end_ < other.end_ ? end_ : other.end_;
        return *this;
    }
    constexpr bool operator==(const Interval&) const = default;

  private:
    TimeValue start_ = 0;
    TimeValue end_ = -1;
};
constexpr Interval FOREVER{TIME_NegInfinity, TIME_PosInfinity};
constexpr Interval NEVER{};

using SClass_ID = ULONG;

// Two 32-bit words that name a class; both must match.
class Class_ID {
  public:
    constexpr Class_ID() = default;
    constexpr Class_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
    constexpr ULONG PartA() const { return a_; }
    constexpr ULONG PartB() const { return b_; }
    constexpr bool operator==(const Class_ID&) const = default;
    constexpr bool operator<(const Class_ID& o) const { return a_ != o.a_ ? a_ < o.a_ : b_ < o.b_; }

  private:
    ULONG a_ = 0xFFFFFFFF;
    ULONG b_ = 0xFFFFFFFF;
};

// Identifier of a published interface.
class Interface_ID {
  public:
    constexpr Interface_ID() = default;
    constexpr Interface_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
    constexpr ULONG PartA() const { return a_; }
    constexpr ULONG PartB() const { return b_; }
    constexpr bool operator==(const Interface_ID&) const = default;

  private:
    ULONG a_ = 0;
    ULONG b_ = 0;
};

// Super class identifiers.
constexpr SClass_ID GEN_DERIVOB_CLASS_ID = 0x0002;
constexpr SClass_ID GEOMOBJECT_CLASS_ID = 0x0010;
constexpr SClass_ID CAMERA_CLASS_ID = 0x0020;
constexpr SClass_ID LIGHT_CLASS_ID = 0x0030;
constexpr SClass_ID HELPER_CLASS_ID = 0x0050;
constexpr SClass_ID PARAMETER_BLOCK2_CLASS_ID = 0x0082;
constexpr SClass_ID RENDERER_CLASS_ID = 0x0B00;
constexpr SClass_ID TEXMAP_CLASS_ID = 0x0C10;
constexpr SClass_ID UTILITY_CLASS_ID = 0x1020;
constexpr SClass_ID BASENODE_CLASS_ID = 0x0001;
