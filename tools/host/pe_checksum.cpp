#include "host/pe_checksum.h"

#include <optional>

#include "integrity/pe_headers.h"

namespace mv::host {

std::uint32_t PeCheckSum(std::span<const std::uint8_t> file, std::uint64_t checkSumAt) {
  const std::uint64_t size = file.size();
  const auto byteAt = [&](std::uint64_t at) -> std::uint32_t {
    return at >= size || (at >= checkSumAt && at < checkSumAt + pe::kCheckSumSize) ? 0 : file[at];
  };
  std::uint64_t sum = 0;
  for (std::uint64_t at = 0; at < size; at += 2) {
    sum += byteAt(at) | byteAt(at + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + size);
}

bool WriteCheckSum(std::vector<std::uint8_t>& image, std::string& error) {
  const char* problem = nullptr;
  const std::optional<pe::Layout> layout = pe::ParseHeaders(image, &problem);
  if (!layout) {
    error = std::string("not a PE image: ") + problem;
    return false;
  }
  const std::uint32_t checksum = PeCheckSum(image, layout->CheckSum);
  pe::Write32(image, layout->CheckSum, checksum);
  return true;
}

}  // namespace mv::host
