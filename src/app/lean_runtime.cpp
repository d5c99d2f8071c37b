// The few pieces of the runtimes that the installer defines itself, so that the static
// libraries' versions are never linked: theirs throw, and a throw brings the exception
// machinery, the verbose terminate handler with its demangler, the string classes behind the
// exception types and the unwinder, several times the size of the installer's own code.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "ui/message_boxes_win.h"

namespace {

// Memory for small things (strings, paths, lists) that is not there. The large buffers whose
// failure the user is told about (the joined payload, a language file) are allocated without
// this path. Nothing is shown: a message box needs memory of its own, and a system that cannot
// give a few hundred bytes will not draw one. The process ends at once with exit code 1, as
// after any other error that no step handles; abort() would say no more, with exit code 3.
[[noreturn]] void OutOfMemory() { ::ExitProcess(1); }

// A length or position out of range is a broken invariant of the installer itself: it ends the
// process as an error that no step handles, with the library's text in the report.
[[noreturn]] void EndWithInternalError(const char* what) { mv::EndWithUnhandledError(what); }

void* Allocate(std::size_t size) noexcept { return std::malloc(size != 0 ? size : 1); }

void* AllocateOrEnd(std::size_t size) {
  void* memory = Allocate(size);
  if (memory == nullptr) OutOfMemory();
  return memory;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrEnd(size); }
void* operator new[](std::size_t size) { return AllocateOrEnd(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

// What the library's containers and strings call for the failures they detect; and the tag of
// the allocations that may fail without ending the process, which the library defines beside
// its new-handler machinery and that machinery's unwind tables.
namespace std {

const nothrow_t nothrow{};

void __throw_bad_alloc() { OutOfMemory(); }
void __throw_bad_array_new_length() { OutOfMemory(); }
void __throw_length_error(const char* what) { EndWithInternalError(what); }
void __throw_logic_error(const char* what) { EndWithInternalError(what); }
void __throw_out_of_range_fmt(const char* format, ...) { EndWithInternalError(format); }

}  // namespace std

extern "C" {

struct _exception;
// The C runtime's hook for math errors. The installer does no floating-point math; the
// default hook would only bring its report texts along. 0: the runtime's own handling.
int __cdecl _matherr(struct _exception*) { return 0; }

// The start-up code applies the image's runtime pseudo-relocations here. The link forbids
// auto-import (cmake/windows.cmake), so the image has none, and the runtime's relocator with
// its section walker and error reports would never do anything.
void _pei386_runtime_relocator() {}

}  // extern "C"

// The installer's entry, in place of the C runtime's start-up code (cmake/windows.cmake): the
// installer has no static constructors or destructors, no thread-local data and no
// floating-point state to set, reads its command line itself and ends through ExitProcess, so
// that code, with its TLS callbacks, exception filter, argument splitting and their unwind
// tables, would only take room before the payload. msvcrt.dll sets itself up when it is
// loaded, as for any program. (The bench's memory probe, a static object, keeps the runtime's
// start-up in its own build.)
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);
extern "C" void InstallerEntry() { ::ExitProcess(static_cast<UINT>(wWinMain(nullptr, nullptr, nullptr, 0))); }
