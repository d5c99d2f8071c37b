#include "app/setup_run.h"

#include "base/strings.h"
#include "product/product.h"
#include "ui/texts.h"

namespace mv {

namespace {

// How the steps ended: the one ending left to the caller is the end of the process.
enum class StepsEnd { Finished, UnhandledRegistryFailure };

StepsEnd RunSteps(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
                  SetupState& state) {
  state.PayloadFileName = WidenAscii(constants.PayloadName);
  state.PayloadFileName.append(L".").append(WidenAscii(constants.PayloadExt));
  state.ProductName = std::string(product::kName);
  state.UpdateTitleRu = std::wstring(text::kUpdateTitleRu);
  state.UpdateTitleEn = std::wstring(text::kUpdateTitleEn);
  state.AddonDescription = constants.AddonTitle;
  state.AddonDescription += DecimalText(constants.PayloadVersion);

  RegistryAccess& registry = system.Registry();
  switch (LocateProduct(state.ProductName, system.IsUserAnAdmin(), registry, state.Location)) {
    case LocateResult::Located:
      break;
    case LocateResult::NoRegistryAccess:
      ui.ShowBilingualError(text::kNoRegistryAccess);
      return StepsEnd::Finished;
    case LocateResult::UnreadableValue:
      return StepsEnd::UnhandledRegistryFailure;
  }

  if (!state.Location.UserIsAdmin) {
    ui.ShowBilingualError(text::kNoAdminRights);
    return StepsEnd::Finished;
  }

  // A running product would hold its data files open; ask it to quit before anything else.
  if (system.IsProductRunning()) system.AskProductToQuit();

  switch (system.CheckInstallerFile()) {
    case IntegrityResult::Intact:
      break;
    case IntegrityResult::Distorted:
      ui.ShowBilingualError(text::kPackageDistorted);
      return StepsEnd::Finished;
    case IntegrityResult::Uncheckable:
      ui.ShowBilingualError(text::kPackageUncheckable);
      return StepsEnd::Finished;
  }
  state.ModestRun = arguments.CommandSwitch == "modest";

  const std::wstring& folder = state.Location.ProductFolder;
  if (!system.FileExists(std::wstring(folder).append(product::kExecutable))) {
    ui.ShowBilingualError(text::kNoProduct);
    return StepsEnd::Finished;
  }

  if (!state.ModestRun) {
    const bool russian = ui.RussianMessages();
    if (!ui.Ask(ConfirmationQuestion(state.AddonDescription, russian), russian)) return StepsEnd::Finished;
  }

  const std::wstring target = folder + state.PayloadFileName;
  if (constants.PayloadParts == 2)
    system.ExtractSplitPayload(constants.PayloadName, constants.PayloadExt, target, ui);
  else
    system.ExtractPayload(constants.PayloadName, constants.PayloadExt, target, true, ui);

  {
    registry.SetRoot(RegistryRoot::LocalMachine);
    CurrentKeyScope scope(registry);
    registry.OpenKey(state.Location.UninstallKey + state.ProductName, true);
    const std::int32_t size = system.GetFolderSizeKB(folder);
    if (size != -1 && !registry.WriteInteger("EstimatedSize", size)) return StepsEnd::UnhandledRegistryFailure;
  }

  if (state.ModestRun) {
    if (arguments.SecondArgument == "runapp") system.LaunchProduct(folder);
    return StepsEnd::Finished;
  }
  // The closing question exists in Russian only, whatever the user's locale.
  if (ui.Ask(ClosingQuestion(state.AddonDescription), true)) system.LaunchProduct(folder);
  return StepsEnd::Finished;
}

}  // namespace

void RunSetup(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
              SetupState& state) {
  // The key that failed is closed by now: each step closes what it opened on its way out.
  if (RunSteps(constants, arguments, ui, system, state) == StepsEnd::UnhandledRegistryFailure)
    system.EndWithUnhandledError(UnhandledFailureText(system.Registry().LastFailure()));
}

}  // namespace mv
