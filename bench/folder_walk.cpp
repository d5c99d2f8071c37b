// Benchmark, not a test: how fast GetFolderSizeKB walks a large tree, side by side in the same
// run with a plain recursive FindFirstFileW/FindNextFileW walk, so that the gain of the listing
// choice (FindExInfoBasic, FIND_FIRST_EX_LARGE_FETCH, breadth-first) is a measured ratio. A third
// walker adds the folder-identity guard against link cycles (open every folder, read its volume
// serial number and file index) to show what that guard would cost.
//
//   folder_walk.exe [--folders N] [--files N] [--reps N] [--root FOLDER] [--keep]
//
// The tree (default 10,000 folders, 100,000 small files) is made in the temp folder, measured
// with the walkers taking turns, and removed again unless --keep is given. A tree left by an
// earlier --keep run of the same shape is reused.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/strings.h"
#include "install/folder_size.h"
#include "install/folder_size_win.h"
#include "win/handles_win.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int folders = 10000;
  int files = 100000;
  int reps = 5;
  std::string root;
  bool keep = false;
};

struct Totals {
  std::uint64_t bytes = 0;
  std::uint64_t entries = 0;  // files and folders below the root, without "." and ".."
};

bool IsDots(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// The walk most code writes: depth-first recursion over FindFirstFileW/FindNextFileW.
void PlainWalk(const std::wstring& folder, Totals& totals) {
  WIN32_FIND_DATAW entry;
  mv::UniqueFind listing(::FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
  if (!listing) return;
  do {
    if (IsDots(entry.cFileName)) continue;
    ++totals.entries;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      PlainWalk(folder + L"\\" + entry.cFileName, totals);
    else
      totals.bytes += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  } while (::FindNextFileW(listing.get(), &entry));
}

// The installed-size walk with the other cycle guard: never list a folder twice, known by its
// volume serial number and file index. Same listing calls as GetFolderSizeKB.
std::int32_t IdentityGuardedWalk(const std::wstring& folder) {
  std::set<std::pair<DWORD, std::uint64_t>> listed;
  std::uint64_t total = 0;
  std::vector<std::wstring> pending{folder};
  for (std::size_t next = 0; next < pending.size(); ++next) {
    std::wstring current = pending[next];
    {
      mv::UniqueFile handle(::CreateFileW(current.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      BY_HANDLE_FILE_INFORMATION info;
      if (handle && ::GetFileInformationByHandle(handle.get(), &info) &&
          !listed.emplace(info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow)
               .second)
        continue;
    }
    mv::AddBackslash(current);
    WIN32_FIND_DATAW entry;
    mv::UniqueFind listing(::FindFirstFileExW((current + L"*.*").c_str(), FindExInfoBasic, &entry,
                                              FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!listing) continue;
    do {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!IsDots(entry.cFileName)) pending.push_back(current + entry.cFileName);
      } else {
        total += (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
      }
    } while (::FindNextFileW(listing.get(), &entry));
  }
  return mv::KibFromBytes(total);
}

std::wstring AnsiWide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool MakeFolder(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) return true;
  std::fprintf(stderr, "folder_walk: cannot create %s (error %lu)\n", path.c_str(), ::GetLastError());
  return false;
}

// Top folders with subfolders under them (a broad, two-level tree like an installation's), the
// files spread evenly; each file holds a few bytes so that the sums mean something.
bool MakeTree(const Options& o) {
  const int top = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(o.folders))));
  std::vector<std::string> folders;
  if (!MakeFolder(o.root)) return false;
  for (int t = 0; t < top && static_cast<int>(folders.size()) < o.folders; ++t) {
    const std::string parent = o.root + "\\d" + std::to_string(t);
    folders.push_back(parent);
    if (!MakeFolder(parent)) return false;
  }
  for (int i = 0; static_cast<int>(folders.size()) < o.folders; ++i) {
    const std::string sub = folders[i % top] + "\\s" + std::to_string(i / top);
    folders.push_back(sub);
    if (!MakeFolder(sub)) return false;
  }
  const char filler[256] = {};
  for (int f = 0; f < o.files; ++f) {
    const std::string path = folders[f % folders.size()] + "\\f" + std::to_string(f) + ".dat";
    mv::UniqueFile file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.get(), filler, static_cast<DWORD>(f % 200), &written, nullptr)) {
      std::fprintf(stderr, "folder_walk: cannot write %s (error %lu)\n", path.c_str(), ::GetLastError());
      return false;
    }
  }
  return true;
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  {
    mv::UniqueFind listing(::FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
    if (listing) {
      do {
        if (IsDots(entry.cFileName)) continue;
        const std::wstring path = folder + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(path);
        else
          ::DeleteFileW(path.c_str());
      } while (::FindNextFileW(listing.get(), &entry));
    }
  }
  ::RemoveDirectoryW(folder.c_str());
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](int& into) {
      if (i + 1 >= argc) return false;
      into = std::atoi(argv[++i]);
      return into > 0;
    };
    if (arg == "--keep")
      o.keep = true;
    else if (arg == "--folders") {
      if (!number(o.folders)) return false;
    } else if (arg == "--files") {
      if (!number(o.files)) return false;
    } else if (arg == "--reps") {
      if (!number(o.reps)) return false;
    } else if (arg == "--root" && i + 1 < argc)
      o.root = argv[++i];
    else
      return false;
  }
  if (o.root.empty()) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    o.root = std::string(temp) + "mv-folder-walk";
  }
  while (o.root.size() > 3 && o.root.back() == '\\') o.root.pop_back();
  return true;
}

struct Walker {
  const char* name;
  std::function<std::int32_t()> run;
  std::vector<double> seconds;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr, "usage: folder_walk [--folders N] [--files N] [--reps N] [--root FOLDER] [--keep]\n");
    return 2;
  }

  const std::wstring root = AnsiWide(o.root);
  Totals tree;
  PlainWalk(root, tree);
  if (tree.entries != static_cast<std::uint64_t>(o.folders) + static_cast<std::uint64_t>(o.files)) {
    if (tree.entries) RemoveTree(root);
    std::printf("making %d folders and %d files in %s ...\n", o.folders, o.files, o.root.c_str());
    std::fflush(stdout);
    const auto start = Clock::now();
    if (!MakeTree(o)) return 1;
    std::printf("made in %.1f s\n", Seconds(Clock::now() - start));
    tree = {};
    PlainWalk(root, tree);
  }
  std::printf("tree: %llu entries, %llu bytes\n", static_cast<unsigned long long>(tree.entries),
              static_cast<unsigned long long>(tree.bytes));

  std::vector<Walker> walkers = {
      {"GetFolderSizeKB", [&] { return mv::GetFolderSizeKB(root); }, {}},
      {"plain recursive FindFirstFileW",
       [&] {
         Totals t;
         PlainWalk(root, t);
         return mv::KibFromBytes(t.bytes);
       },
       {}},
      {"size walk + folder identity", [&] { return IdentityGuardedWalk(root); }, {}},
  };
  const std::int32_t expected = mv::KibFromBytes(tree.bytes);
  bool agree = true;
  // The walkers take turns, so a change in machine load falls on all of them alike.
  for (int rep = 0; rep < o.reps; ++rep) {
    for (Walker& w : walkers) {
      const auto start = Clock::now();
      const std::int32_t kib = w.run();
      w.seconds.push_back(Seconds(Clock::now() - start));
      if (kib != expected) {
        std::fprintf(stderr, "folder_walk: %s gave %ld KiB, expected %ld\n", w.name, static_cast<long>(kib),
                     static_cast<long>(expected));
        agree = false;
      }
    }
  }

  const double entries = static_cast<double>(tree.entries);
  std::printf("\n%-32s %10s %10s %16s %16s\n", "walker", "median ms", "best ms", "entries/s median", "entries/s best");
  for (const Walker& w : walkers) {
    const double median = Median(w.seconds);
    const double best = *std::min_element(w.seconds.begin(), w.seconds.end());
    std::printf("%-32s %10.1f %10.1f %16.0f %16.0f\n", w.name, median * 1000, best * 1000, entries / median,
                entries / best);
  }
  // A ratio above 1 means GetFolderSizeKB walks more entries per second than the other walker.
  auto ratio = [&](const Walker& other) {
    std::printf("rate ratio GetFolderSizeKB / %s: %.2f (medians), %.2f (best)\n", other.name,
                Median(other.seconds) / Median(walkers[0].seconds),
                *std::min_element(other.seconds.begin(), other.seconds.end()) /
                    *std::min_element(walkers[0].seconds.begin(), walkers[0].seconds.end()));
  };
  std::printf("\n");
  ratio(walkers[1]);
  ratio(walkers[2]);

  if (!o.keep) RemoveTree(root);
  return agree ? 0 : 1;
}
