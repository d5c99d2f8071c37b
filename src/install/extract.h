#pragma once
// Writing the embedded data file into the product folder.
#include <string>
#include <string_view>

#include "env/messages.h"

namespace mv {

// Writes the resource `name` of type `kind` to `destination`. A failure is reported with the
// "Can't install file" pair; the caller carries on either way.
void ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                    bool checkExisting, MessageSink& messages);

// Writes the payload stored as the two resources name + "1" and name + "2", joined.
void ExtractSplitPayload(std::string_view name, std::string_view kind, const std::string& destination,
                         MessageSink& messages);

}  // namespace mv
