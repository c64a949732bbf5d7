#pragma once
// The few things that the board's compiler (C++03 with TR1, a C library
// without <stdint.h>) and today's compilers both need from us: fixed-width
// integer types, a base for classes that must not be copied, and a check at
// compile time, and an owner of one object.

#include <cstddef>

namespace lumivo {

// Fixed-width integers. Every target (Windows CE and desktop Windows, 32- and
// 64-bit Linux) has 8-bit char, 16-bit short and 32-bit int; the checks below
// stop a build where that is not so.
typedef unsigned char uint8;
typedef unsigned short uint16;
typedef int int32;
typedef unsigned int uint32;
// Integers as wide as a pointer (Windows' UINT_PTR and LONG_PTR): size_t and
// ptrdiff_t are pointer-wide on every target.
typedef std::size_t uintptr;
typedef std::ptrdiff_t intptr;

// A condition that holds at compile time: CompileCheck<false> has no
// definition, so naming its member `holds` stops the build.
template <bool condition>
struct CompileCheck;
template <>
struct CompileCheck<true> {
    enum { holds = 1 };
};

enum {
    fixedWidthTypesCheck = CompileCheck<(
        sizeof(uint8) == 1 && sizeof(uint16) == 2 && sizeof(int32) == 4 && sizeof(uint32) == 4 &&
        sizeof(uintptr) == sizeof(void*) && sizeof(intptr) == sizeof(void*))>::holds
};

// A base for classes that own something and so must not be copied: copying
// one does not compile (the copy operations are private and not defined).
class NonCopyable {
  protected:
    NonCopyable() {}
    ~NonCopyable() {}

  private:
    NonCopyable(const NonCopyable&);
    NonCopyable& operator=(const NonCopyable&);
};

// Owns one object made with `new` and deletes it when the owner goes (or is
// given another object).
template <class T>
class Owned : private NonCopyable {
  public:
    explicit Owned(T* object = NULL) : object_(object) {}
    ~Owned() { delete object_; }
    void Reset(T* object = NULL) {
        if (object == object_) return;
        delete object_;
        object_ = object;
    }
    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }

  private:
    T* object_;
};

}  // namespace lumivo
