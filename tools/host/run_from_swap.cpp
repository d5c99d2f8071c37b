#include "host/run_from_swap.h"

#include <optional>

#include "integrity/pe_headers.h"

namespace mv::host {

namespace {

constexpr std::uint64_t kCharacteristicsField = 18;  // within the COFF header

}  // namespace

bool MarkRunFromSwap(std::vector<std::uint8_t>& image, std::string& error) {
  const std::optional<pe::Layout> layout = pe::ChangeableLayout(image, "mark", error);
  if (!layout) return false;
  const std::uint64_t at = layout->Coff + kCharacteristicsField;
  pe::Write16(image, at, pe::Read16(image, at) | kRunFromSwapFlags);
  return true;
}

}  // namespace mv::host
