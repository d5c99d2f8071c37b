#include "app/setup_run.h"

#include "base/strings.h"
#include "product/launch.h"
#include "product/product.h"
#include "ui/texts.h"

namespace mv {

namespace {

// How the steps ended: the one ending left to the caller is the end of the process.
enum class StepsEnd { Finished, UnhandledRegistryFailure };

// A running product is asked to quit only once the run is certain to write (after every question,
// the one before an older payload replaces a newer copy among them), and is given time to end
// before its data file is written: it may still be saving, and it holds its data files open
// until it ends. One still running after the wait is written past; a file it holds is then
// reported like any file that cannot be written.
class CloseRunningProduct final : public BeforeCommit {
 public:
  explicit CloseRunningProduct(SetupSystem& system) : system_(system) {}
  void Run() override {
    if (system_.IsProductRunning() && system_.AskProductToQuit()) system_.WaitForProductToEnd(kQuitWaitMs);
  }

 private:
  SetupSystem& system_;
};

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
  if (!system.FileExists(product::ExecutableIn(folder))) {
    ui.ShowBilingualError(text::kNoProduct);
    return StepsEnd::Finished;
  }

  if (!state.ModestRun) {
    const bool russian = ui.RussianMessages();
    if (!ui.Ask(ConfirmationQuestion(state.AddonDescription, russian), russian)) return StepsEnd::Finished;
  }

  CloseRunningProduct closeProduct(system);
  const std::wstring target = folder + state.PayloadFileName;
  const bool written =
      constants.PayloadParts == 2
          ? system.ExtractSplitPayload(constants.PayloadName, constants.PayloadExt, target, ui, closeProduct)
          : system.ExtractPayload(constants.PayloadName, constants.PayloadExt, target, true, ui, closeProduct);

  // The size goes into the product's own entry; without one there is nowhere to record it, and
  // no entry is made up for it.
  if (!state.Location.UninstallEntry.empty()) {
    registry.SetRoot(RegistryRoot::LocalMachine);
    CurrentKeyScope scope(registry);
    registry.OpenKey(state.Location.UninstallEntry, false);
    const std::int32_t size = system.GetFolderSizeKB(folder);
    if (size != -1 && !registry.WriteInteger("EstimatedSize", size)) return StepsEnd::UnhandledRegistryFailure;
  }

  if (state.ModestRun) {
    // Started even after a failed write: a product that was asked to quit comes back.
    if (arguments.SecondArgument == "runapp") system.LaunchProduct(folder);
    return StepsEnd::Finished;
  }
  // After "Can't install file" nothing was installed to announce.
  if (!written) return StepsEnd::Finished;
  // The closing question exists in Russian only, whatever the user's locale.
  if (ui.Ask(ClosingQuestion(state.AddonDescription), true)) system.LaunchProduct(folder);
  return StepsEnd::Finished;
}

}  // namespace

int RunSetup(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
             SetupState& state) {
  // The key that failed is closed by now: each step closes what it opened on its way out.
  if (RunSteps(constants, arguments, ui, system, state) == StepsEnd::UnhandledRegistryFailure)
    system.EndWithUnhandledError(UnhandledFailureText(system.Registry().LastFailure()));
  return ui.ErrorShown() ? kExitFailureShown : kExitAsAsked;
}

}  // namespace mv
