#pragma once
// Writing the embedded data file into the product folder.
#include <string>
#include <string_view>

#include "env/messages.h"

namespace mv {

// What writing the payload needs from the user's side: the failure message, the question
// before an older payload replaces a newer copy, and the progress window around it.
class ExtractUi : public MessageSink {
 public:
  virtual bool RussianMessages() = 0;
  // A Yes/No question; true only for Yes.
  virtual bool Ask(std::wstring_view text, std::wstring_view caption, bool russian) = 0;
  virtual void HideProgress() = 0;
  // False when the window could not be shown (its thread cannot be started).
  virtual bool ShowProgress(std::string_view caption, std::string_view text) = 0;
};

// Writes the resource `name` of type `kind` to `destination`. An installed copy is replaced
// only whole, by a complete temporary file beside it, so a failure never loses it. With
// `checkExisting`, a copy of a kind that carries a version is replaced only after the user
// agreed when it is the newer one. A failure is reported with the "Can't install file" pair;
// the caller carries on either way.
void ExtractPayload(std::string_view name, std::string_view kind, const std::string& destination,
                    bool checkExisting, ExtractUi& ui);

// Writes the payload stored as the two resources name + "1" and name + "2", joined.
void ExtractSplitPayload(std::string_view name, std::string_view kind, const std::string& destination,
                         MessageSink& messages);

}  // namespace mv
