// Allocation failure on demand, and a count of the blocks still allocated, for the one test
// program that links AllocationFailure.cpp: it replaces operator new and wraps malloc and
// free (-Wl,--wrap=malloc,--wrap=free), which is where every block the module allocates
// comes from (its objects and strings, and the portable BSTRs). Only the native linker
// offers the wrapping, and the sanitizers bring allocators of their own, so the program
// runs in the plain native build only.
#pragma once

#include <cstddef>

namespace iniplugin::test::allocation {

enum class Source {
  Any,     // operator new and malloc, counted together
  Malloc,  // malloc only
  New,     // operator new only
};

// What a failing operator new throws (a failing malloc returns null whatever is asked):
// running out of memory, or standing in for any other exception that can come from deep
// inside a call, such as a string asked to grow past its largest size.
enum class Throw {
  BadAlloc,      // std::bad_alloc
  LengthError,   // std::length_error
  RuntimeError,  // std::runtime_error: an exception the module has no particular answer for
};

// Makes the nth allocation from now on fail (1: the next one), once; the others succeed.
void FailNth(std::size_t n, Source source = Source::Any, Throw what = Throw::BadAlloc);
// Makes every operator new of `bytes` or more fail, until Reset.
void FailFromSize(std::size_t bytes);
// No more failures.
void Reset();

// Allocations counted since the last FailNth.
std::size_t Counted();
// Whether the failure FailNth asked for has happened.
bool Injected();

// Blocks from operator new and malloc not freed yet.
std::size_t LiveBlocks();

}  // namespace iniplugin::test::allocation
