#include "app/setup_run.h"

#include "env/rules.h"

namespace mv {

namespace {

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

std::wstring ConfirmationText(const SetupState& state, bool russian) {
  if (russian)
    return L"Вы действительно хотите установить\r\n" + state.UpdateTitleRu + L" -\r\n" + state.AddonDescription + L"?";
  return L"Would you like to setup\r\n" + state.UpdateTitleEn + L" -\r\n" + state.AddonDescription + L"?";
}

std::wstring ClosingQuestionText(const SetupState& state) {
  return L"На Ваш компьютер установлено\r\n" + state.UpdateTitleRu + L" -\r\n" + state.AddonDescription +
         L"\r\n\r\nЗапустить программу?";
}

void RunSetup(const BuildConstants& constants, const StartupSettings& settings, SetupHost& host,
              SetupState& state) {
  state.PayloadFileName = std::string(constants.PayloadName) + "." + std::string(constants.PayloadExt);
  state.ProductName = std::string(kProductName);
  state.UpdateTitleRu = std::wstring(text::kUpdateTitleRu);
  state.UpdateTitleEn = std::wstring(text::kUpdateTitleEn);
  state.AddonDescription = std::wstring(constants.AddonTitle) + Widen(DecimalText(constants.PayloadVersion));

  if (!LocateProduct(state.ProductName, host.IsUserAnAdmin(), host.Registry(), host, state.Location)) return;

  if (!state.Location.UserIsAdmin) {
    host.ShowBilingualError(text::kNoAdminRights);
    return;
  }

  // A running product would hold its data files open; ask it to quit before anything else.
  if (host.IsProductRunning()) host.AskProductToQuit();

  if (!host.VerifyInstallerFile()) return;
  state.ModestRun = settings.CommandSwitch == "modest";

  const std::string& folder = state.Location.ProductFolder;
  if (!host.FileExists(folder + state.ProductName + ".exe")) {
    host.ShowBilingualError(text::kNoProduct);
    return;
  }

  if (!state.ModestRun) {
    const bool russian = settings.RussianMessages;
    const std::wstring_view caption = russian ? text::kQuestionCaptionRu : text::kQuestionCaptionEn;
    if (!host.Ask(ConfirmationText(state, russian), caption, russian)) return;
  }

  const std::string target = folder + state.PayloadFileName;
  if (constants.PayloadName == kSplitPayloadName)
    host.ExtractSplitPayload(constants.PayloadName, constants.PayloadExt, target);
  else
    host.ExtractPayload(constants.PayloadName, constants.PayloadExt, target, true);

  {
    RegistryAccess& registry = host.Registry();
    registry.SetRoot(RegistryRoot::LocalMachine);
    CurrentKeyScope scope(registry);
    registry.OpenKey(state.Location.UninstallKey + state.ProductName, true);
    const std::int32_t size = host.GetFolderSizeKB(folder);
    if (size != -1) WriteIntegerOrEnd(registry, "EstimatedSize", size);
  }

  if (state.ModestRun) {
    if (settings.SecondArgument == "runapp") host.LaunchProduct(folder, state.ProductName);
    return;
  }
  // The closing question exists in Russian only; its caption is the English title.
  if (host.Ask(ClosingQuestionText(state), state.UpdateTitleEn, true)) host.LaunchProduct(folder, state.ProductName);
}

}  // namespace mv
