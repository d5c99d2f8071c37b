#include "app/setup_run.h"

#include <optional>

#include "base/strings.h"
#include "product/product.h"
#include "ui/texts.h"

namespace mv {

namespace {

// A running product is asked to quit only once the run is certain to write (after every question,
// the one before an older payload replaces a newer copy among them), and is given time to end
// before its data file is written: it may still be saving, and it holds its data files open
// until it ends. One still running after the wait is written past; a file it holds is then
// reported like any file that cannot be written.
class CloseRunningProduct final : public BeforeCommit {
 public:
  CloseRunningProduct(SetupSystem& system, SetupUi& ui) : system_(system), ui_(ui) {}
  void Run() override {
    if (!system_.IsProductRunning()) return;
    if (!system_.AskProductToQuit()) {
      ui_.Log("Mirvane runs without a main window: it cannot be asked to quit");
      return;
    }
    ui_.Log("Mirvane runs: asked to quit");
    ui_.Log(system_.WaitForProductToEnd(kQuitWaitMs) ? "Mirvane has ended" : "Mirvane still runs after 10 s");
  }

 private:
  SetupSystem& system_;
  SetupUi& ui_;
};

// The log's last line: the exit code and what it means.
std::string_view ExitCodeLine(int exitCode) {
  switch (exitCode) {
    case exit_code::kInstalled:
      return "Exit code 0: installed";
    case exit_code::kNoAdministrator:
      return "Exit code 740: no administrator rights";
    case exit_code::kDeclined:
      return "Exit code 1602: declined at the first question";
    case exit_code::kNotInstalled:
      return "Exit code 1605: Mirvane is not installed";
    case exit_code::kAnotherRun:
      return "Exit code 1618: another setup of Mirvane was running";
    case exit_code::kPackageUncheckable:
      return "Exit code 1619: the installer's own file could not be checked";
    case exit_code::kPackageDistorted:
      return "Exit code 1620: the installer's own file is damaged";
    case exit_code::kNewerKept:
      return "Exit code 1638: a newer copy is installed and was kept";
    case exit_code::kUnreadableCommandLine:
      return "Exit code 1639: the command line has an argument the installer cannot read";
    case exit_code::kInstalledAtRestart:
      return "Exit code 3010: installed at the next restart";
    default:
      return "Exit code 1603: the setup failed";
  }
}

// One setup run, step by step. Each step logs what it found; one that ends the run has shown
// its message (if any) and set the exit code.
class SetupSteps {
 public:
  SetupSteps(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
             SetupState& state)
      : constants_(constants), arguments_(arguments), ui_(ui), system_(system), state_(state) {}

  // The exit code, unless a registry failure that no step handles ended the steps (Unhandled).
  int Run() {
    Describe();
    if (!Locate() || !HoldAdministratorRights() || !CheckInstallerFile() || !FindProduct() || !TakeRunLock() ||
        !Confirm())
      return ending_;
    const WriteResult written = Write();
    if (RecordSize(written)) Offer(written);
    return ending_;
  }
  bool Unhandled() const { return unhandled_; }

 private:
  // Ends the run with a message and its exit code.
  bool End(const BilingualText& message, int exitCode) {
    ui_.ShowBilingualError(message);
    ending_ = exitCode;
    return false;
  }

  void Describe() {
    state_.PayloadFileName = WidenAscii(constants_.PayloadName);
    state_.PayloadFileName.append(L".").append(WidenAscii(constants_.PayloadExt));
    state_.ProductName = std::string(product::kName);
    state_.UpdateTitleRu = std::wstring(text::kUpdateTitleRu);
    state_.UpdateTitleEn = std::wstring(text::kUpdateTitleEn);
    state_.AddonDescription = constants_.AddonTitle;
    state_.AddonDescription += DecimalText(constants_.PayloadVersion);
    ui_.Log("Add-on: ", state_.AddonDescription);
  }

  bool Locate() {
    switch (LocateProduct(state_.ProductName, system_.IsUserAnAdmin(), system_.Registry(), state_.Location)) {
      case LocateResult::Located:
        break;
      case LocateResult::NoRegistryAccess:
        return End(text::kNoRegistryAccess, exit_code::kFailure);
      case LocateResult::UnreadableValue:
        unhandled_ = true;
        return false;
    }
    const ProductLocation& found = state_.Location;
    ui_.Log("Product folder: ", found.ProductFolder);
    ui_.Log(found.UninstallEntry.empty() ? "No uninstall entry: the folder under Program Files"
                                         : "Uninstall entry found");
    return true;
  }

  bool HoldAdministratorRights() {
    if (!state_.Location.UserIsAdmin) return End(text::kNoAdminRights, exit_code::kNoAdministrator);
    return true;
  }

  // Two runs at once (a deployment retried while a pupil runs the installer) must not write the
  // data file together: the second waits briefly for the first. The lock lives in the product
  // folder, which exists by now, and which only administrators may write.
  bool TakeRunLock() {
    const std::wstring& folder = state_.Location.ProductFolder;
    RunLock lock = system_.TakeRunLock(folder, 0);
    if (lock.Outcome == RunLock::State::Held) {
      ui_.Log("Another setup of Mirvane runs: waiting up to 10 s");
      lock = system_.TakeRunLock(folder, kRunLockWaitMs);
    }
    switch (lock.Outcome) {
      case RunLock::State::Taken:
        return true;
      case RunLock::State::Held:
        return End(text::kAnotherSetupRuns, exit_code::kAnotherRun);
      case RunLock::State::Unavailable:
        break;
    }
    // Not another run: the folder cannot be written (its rights, something in the lock's place).
    ui_.Log("The run lock in the product folder cannot be taken: Windows error ",
            DecimalText(static_cast<std::int32_t>(lock.Error)));
    ui_.ShowBilingualError(text::kCannotInstallFile, Target());
    ending_ = exit_code::kFailure;
    return false;
  }

  bool CheckInstallerFile() {
    switch (system_.CheckInstallerFile()) {
      case IntegrityResult::Intact:
        ui_.Log("The installer's own file is intact");
        break;
      case IntegrityResult::Distorted:
        return End(text::kPackageDistorted, exit_code::kPackageDistorted);
      case IntegrityResult::Uncheckable:
        return End(text::kPackageUncheckable, exit_code::kPackageUncheckable);
    }
    // A quiet run is a modest one that shows nothing at all.
    state_.ModestRun = arguments_.CommandSwitch == kModestSwitch || arguments_.Quiet;
    return true;
  }

  // Where the data file goes.
  std::wstring Target() const { return state_.Location.ProductFolder + state_.PayloadFileName; }

  bool FindProduct() {
    if (!system_.FileExists(product::ExecutableIn(state_.Location.ProductFolder)))
      return End(text::kNoProduct, exit_code::kNotInstalled);
    return true;
  }

  bool Confirm() {
    if (state_.ModestRun) return true;
    const bool russian = ui_.RussianMessages();
    if (ui_.Ask(ConfirmationQuestion(state_.AddonDescription, russian), russian, "Question: install the add-on?"))
      return true;
    // Not installed: a deployment tool must not take this run for a success.
    ending_ = exit_code::kDeclined;
    return false;
  }

  WriteResult Write() {
    CloseRunningProduct closeProduct(system_, ui_);
    const std::wstring target = Target();
    const WriteResult result =
        constants_.PayloadParts == 2
            ? system_.ExtractSplitPayload(constants_.PayloadName, constants_.PayloadExt, target, ui_, closeProduct)
            : system_.ExtractPayload(constants_.PayloadName, constants_.PayloadExt, target, true, ui_, closeProduct);
    if (result == WriteResult::KeptNewer) ending_ = exit_code::kNewerKept;
    if (result == WriteResult::AtRestart) ending_ = exit_code::kInstalledAtRestart;
    return result;
  }

  // The size goes into the product's own entry; without one there is nowhere to record it, and
  // no entry is made up for it. After a write left for the next restart, it is the size the
  // folder will have then. False after a failure that no step handles.
  bool RecordSize(WriteResult written) {
    const std::string& entry = state_.Location.UninstallEntry;
    if (entry.empty()) return true;
    RegistryAccess& registry = system_.Registry();
    registry.SetRoot(RegistryRoot::LocalMachine);
    CurrentKeyScope scope(registry);
    if (!registry.OpenKey(entry, false)) {
      unhandled_ = true;
      return false;
    }
    const std::optional<std::int32_t> size = system_.GetFolderSizeKB(
        state_.Location.ProductFolder, written == WriteResult::AtRestart ? Target() : std::wstring());
    if (!size) {
      ui_.Log("The product folder cannot be measured: no size recorded");
      return true;
    }
    if (!registry.WriteInteger("EstimatedSize", *size)) {
      unhandled_ = true;
      return false;
    }
    ui_.Log("Recorded EstimatedSize (KiB): ", DecimalText(*size));
    return true;
  }

  void Offer(WriteResult written) {
    const std::wstring& folder = state_.Location.ProductFolder;
    if (arguments_.Quiet) return;
    if (state_.ModestRun) {
      // Started even after a failed write: a product that was asked to quit comes back.
      if (arguments_.SecondArgument == kRunAppSwitch) Launch(folder);
      return;
    }
    // After "Can't install file" nothing was installed to announce.
    if (written == WriteResult::Failed) return;
    // The closing question exists in Russian only, whatever the user's locale.
    if (ui_.Ask(ClosingQuestion(state_.AddonDescription), true, "Question: start Mirvane?")) Launch(folder);
  }

  void Launch(const std::wstring& folder) {
    switch (system_.LaunchProduct(folder)) {
      case ShellStart::Started:
        ui_.Log("Mirvane started through the desktop shell");
        break;
      case ShellStart::Refused:
        ui_.Log("The desktop shell refused to start Mirvane");
        break;
      case ShellStart::NoAnswer:
        ui_.Log("The desktop shell did not answer in time: Mirvane may start later");
        break;
      case ShellStart::Unreachable:
        // Started by the installer itself, it would run with administrator rights on the user's
        // desktop, where its Open dialog is a file manager of the administrators'.
        ui_.Log("No desktop shell to start Mirvane with the user's rights: not started");
        ui_.ShowBilingualNotice(text::kProductNotStarted);
        break;
    }
  }

  const BuildConstants& constants_;
  const CommandArguments& arguments_;
  SetupUi& ui_;
  SetupSystem& system_;
  SetupState& state_;
  bool unhandled_ = false;
  int ending_ = exit_code::kInstalled;
};

}  // namespace

int RunSetup(const BuildConstants& constants, const CommandArguments& arguments, SetupUi& ui, SetupSystem& system,
             SetupState& state) {
  SetupSteps steps(constants, arguments, ui, system, state);
  const int ending = steps.Run();
  // The key that failed is closed by now: each step closes what it opened on its way out.
  if (steps.Unhandled()) system.EndWithUnhandledError(UnhandledFailureText(system.Registry().LastFailure()));
  // A message of a step that went on (a language file that could not be read) still fails the run.
  const int code = ending == exit_code::kInstalled && ui.ErrorShown() ? exit_code::kFailure : ending;
  ui.Log(ExitCodeLine(code));
  return code;
}

int RefuseUnreadableCommandLine(const CommandArguments& arguments, SetupUi& ui) {
  ui.Log("Unreadable argument (the switches are /quiet and /log FILE): ", arguments.Unreadable);
  ui.Log(ExitCodeLine(exit_code::kUnreadableCommandLine));
  return exit_code::kUnreadableCommandLine;
}

}  // namespace mv
