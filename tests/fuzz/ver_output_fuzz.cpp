// Fuzz target for the output of the command interpreter's "ver", whose shape no Windows promises:
// the capture file's lines joined, the number piece checked against a position-by-position
// reading of its rule, and the Windows names that the rule feeds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "../support/fuzz_check.h"
#include "startup/console_command.h"
#include "startup/windows_edition.h"

namespace {

using mv::testing::Check;

// Positions from 1, 0 for "not found"; the piece runs from 4 after "ion" to before the first ".".
std::string ReferencePiece(std::string_view out) {
  std::size_t ion = 0;
  for (std::size_t i = 0; ion == 0 && i + 3 <= out.size(); ++i)
    if (out[i] == 'i' && out[i + 1] == 'o' && out[i + 2] == 'n') ion = i + 1;
  std::size_t dot = 0;
  for (std::size_t i = 0; dot == 0 && i < out.size(); ++i)
    if (out[i] == '.') dot = i + 1;
  std::string piece;
  for (std::size_t position = ion + 4; position < dot; ++position) piece += out[position - 1];
  return piece;
}

// Every line end (CR LF, LF, lone CR) becomes CR LF, and a last line without one gets one; an
// empty file is one empty line.
std::string ReferenceJoin(std::string_view content) {
  std::string joined;
  bool lineOpen = true;
  for (std::size_t i = 0; i < content.size(); ++i) {
    const char c = content[i];
    if (c == '\r' || c == '\n') {
      joined += "\r\n";
      if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
      lineOpen = false;
    } else {
      joined += c;
      lineOpen = true;
    }
  }
  if (lineOpen) joined += "\r\n";
  return joined;
}

class Lookups : public mv::EditionLookups {
 public:
  explicit Lookups(std::string ver) : ver_(std::move(ver)) {}
  std::optional<std::string> ProductName() override { return std::nullopt; }
  std::optional<std::string> ProductOptionsType() override { return std::nullopt; }
  bool HasHotfixQ246009() override { return false; }
  // No row outside Windows 5.x may ask for a metric: user32 stays unloaded on a quiet run.
  bool MetricSet(mv::SystemMetric) override { std::abort(); }
  std::string VerOutput() override {
    ++calls;
    return ver_;
  }
  int calls = 0;

 private:
  std::string ver_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string piece = mv::VerNumberPiece(raw);
  Check(piece == ReferencePiece(raw));
  Check(piece.find('.') == std::string::npos && piece.size() + 4 <= std::max<std::size_t>(raw.size(), 4));

  const std::string joined = mv::JoinCapturedLines(raw);
  Check(joined == ReferenceJoin(raw));
  Check(joined.ends_with("\r\n"));

  // The first byte picks the record that sends the naming to the "ver" output: 6.2 (which
  // 8.1 and later report without a manifest naming them) or a major version outside the
  // tables; workstation or server.
  const std::uint8_t control = size > 0 ? data[0] : 0;
  const bool workstation = (control & 1) != 0;
  constexpr std::uint32_t kOutsideTables[] = {0, 1, 2, 7, 8, 9, 11, 12, 0xFFFFFFFFu};
  const std::uint32_t pick = (control >> 1) % (1 + std::size(kOutsideTables));
  mv::SystemFacts facts;
  facts.Extended = true;
  facts.Architecture = mv::kArchitectureX86;
  mv::VersionRecord record;
  record.PlatformId = mv::kPlatformNt;
  record.Major = pick == 0 ? 6 : kOutsideTables[pick - 1];
  record.Minor = pick == 0 ? 2 : control >> 4;
  record.ProductType = workstation ? mv::kNtWorkstation : mv::kNtServer;
  facts.Version = record;

  Lookups lookups(joined);
  std::string name;
  std::string servicePack;
  Check(mv::IdentifyWindows(facts, lookups, name, servicePack));
  Check(lookups.calls == 1);
  const std::string numbered = (workstation ? "" : "Server ") + ReferencePiece(joined) + " ";
  if (record.Major == 6) {
    auto pickName = [&](const char* w, const char* s) { return std::string(workstation ? w : s); };
    std::string version = numbered;
    if (joined.find(" 6.2") != std::string::npos)
      version = pickName("8 ", "Server 2012 ");
    else if (joined.find(" 6.3") != std::string::npos)
      version = pickName("8.1 ", "Server 2012 R2 ");
    else if (joined.find(" 10") != std::string::npos)
      version = pickName("10 ", "Server 10 ");
    Check(name == "Microsoft Windows " + version + " 32-bit");
  } else {
    Check(name == "Microsoft Windows " + numbered + (workstation ? "Unknown Workstation" : "Unknown Server"));
  }
  return 0;
}
