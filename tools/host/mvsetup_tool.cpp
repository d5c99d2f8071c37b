// Build-side companion of the installer: stamps a linked installer so that it can check its own
// file at run time, verifies a stamp the same way the installer does, and reads a payload's
// version the way the installer reads an installed copy's, so that the builder's warning follows
// the installer's own rules.
//
//   mvsetup-tool stamp IN OUT                  page-aligns the resource data, marks the image to
//                                              run from the swap file, stamps, writes the PE
//                                              checksum; exit 0 stamped, 1 refused or failed
//   mvsetup-tool verify FILE                   prints "intact" (exit 0) or "distorted" (exit 1);
//                                              exit 2 unreadable
//   mvsetup-tool checksum FILE                 prints the PE checksum and "correct" (exit 0) or
//                                              "wrong" and the right one (exit 1); exit 2
//                                              unreadable or not a PE file
//   mvsetup-tool payload-version KIND FILE     prints the version a file of that kind holds, or
//                                              "none" for a kind without one; exit 2 unreadable
//
// Every failure is one line on stderr, "mvsetup-tool: <problem>", for build logs.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/page_align.h"
#include "host/pe_checksum.h"
#include "host/run_from_swap.h"
#include "install/versions.h"
#include "integrity/pe_headers.h"
#include "integrity/stamp.h"

namespace {

void Fail(const std::string& problem) { std::fprintf(stderr, "mvsetup-tool: %s\n", problem.c_str()); }

std::string SystemError(const std::string& what, const std::string& path, int error) {
  return what + " " + path + ": " + std::strerror(error);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::optional<std::vector<std::uint8_t>> ReadAll(const std::string& path, std::string& problem) {
  std::FILE* raw = std::fopen(path.c_str(), "rb");
  if (!raw) {
    problem = SystemError("cannot open", path, errno);
    return std::nullopt;
  }
  const std::unique_ptr<std::FILE, FileCloser> file(raw);
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  if (std::ferror(file.get())) {
    problem = SystemError("cannot read", path, errno);
    return std::nullopt;
  }
  return bytes;
}

// The output appears complete or not at all: a build interrupted halfway must not leave an
// unstamped or half-written installer under the final name for a later step to ship.
bool WriteAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& problem) {
  const std::string temp = path + ".tmp-" + std::to_string(::getpid());
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (!file) {
    problem = SystemError("cannot create", temp, errno);
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0 &&
            ::fsync(::fileno(file)) == 0;
  int error = errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
    problem = SystemError("cannot rename " + temp + " to", path, error);
  } else if (!ok) {
    problem = SystemError("cannot write", temp, error);
  }
  if (!ok) std::remove(temp.c_str());
  return ok;
}

// The whole file, or nothing after the line that says why.
std::optional<std::vector<std::uint8_t>> ReadOrReport(const std::string& path) {
  std::string problem;
  auto bytes = ReadAll(path, problem);
  if (!bytes) Fail(problem);
  return bytes;
}

int StampCommand(const std::string& in, const std::string& out) {
  const auto image = ReadOrReport(in);
  if (!image) return 1;
  std::string error;
  std::string problem;
  std::vector<std::uint8_t> aligned = mv::host::PageAlignResources(*image, error);
  if (aligned.empty() || !mv::host::MarkRunFromSwap(aligned, error)) {
    Fail(in + ": " + error);
    return 1;
  }
  std::vector<std::uint8_t> stamped = mv::stamp::Stamp(aligned, error);
  if (stamped.empty() || !mv::host::WriteCheckSum(stamped, error)) {
    Fail(in + ": " + error);
    return 1;
  }
  if (!WriteAtomically(out, stamped, problem)) {
    Fail(problem);
    return 1;
  }
  return 0;
}

int VerifyCommand(const std::string& path) {
  const auto file = ReadOrReport(path);
  if (!file) return 2;
  const bool intact = mv::stamp::Verify(*file) == mv::stamp::Verdict::Intact;
  std::puts(intact ? "intact" : "distorted");
  return intact ? 0 : 1;
}

std::string Hex(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

int CheckSumCommand(const std::string& path) {
  const auto file = ReadOrReport(path);
  if (!file) return 2;
  const char* problem = nullptr;
  const std::optional<mv::pe::Layout> layout = mv::pe::ParseHeaders(*file, &problem);
  if (!layout) {
    Fail(path + ": not a PE file: " + std::string(problem));
    return 2;
  }
  const std::uint32_t stored = mv::pe::Read32(*file, layout->CheckSum);
  const std::uint32_t computed = mv::host::PeCheckSum(*file, layout->CheckSum);
  std::printf("%s %s\n", Hex(stored).c_str(), stored == computed ? "correct" : ("wrong, " + Hex(computed)).c_str());
  return stored == computed ? 0 : 1;
}

int PayloadVersionCommand(const std::string& kind, const std::string& path) {
  const auto content = ReadOrReport(path);
  if (!content) return 2;
  const std::optional<std::int32_t> version = mv::PayloadVersion(kind, *content);
  std::puts(version ? std::to_string(*version).c_str() : "none");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "stamp") return StampCommand(args[1], args[2]);
  if (args.size() == 2 && args[0] == "verify") return VerifyCommand(args[1]);
  if (args.size() == 2 && args[0] == "checksum") return CheckSumCommand(args[1]);
  if (args.size() == 3 && args[0] == "payload-version") return PayloadVersionCommand(args[1], args[2]);
  Fail(
      "usage: mvsetup-tool stamp IN OUT | mvsetup-tool verify FILE | mvsetup-tool checksum FILE | "
      "mvsetup-tool payload-version KIND FILE");
  return 2;
}
