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
    if (!Locate() || !HoldAdministratorRights()) return ending_;
    StageWhileTheCheckRuns();
    if (!CheckInstallerFile() || !FindProduct() || !TakeRunLock() || !Confirm()) return ending_;
    const WriteResult written = Write();
    if (RecordSize(written)) Offer(written);
    return ending_;
  }
  bool Unhandled() const { return unhandled_; }

 private:
  // Ends the run with a message and its exit code. What was staged is removed first: a run that
  // ends before its write, a distorted installer above all, leaves no temporary file.
  bool End(const BilingualText& message, int exitCode) {
    if (staged_.Ready) system_.DiscardPayload(staged_);
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
    target_ = found.ProductFolder + state_.PayloadFileName;
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
    CannotInstall("The run lock in the product folder cannot be taken: Windows error ", ErrorNumber(lock.Error));
    ending_ = exit_code::kFailure;
    return false;
  }

  bool CheckInstallerFile() {
    const IntegrityResult result = system_.CheckInstallerFile();
    if (result == IntegrityResult::Intact) {
      ui_.Log("The installer's own file is intact");
      return true;
    }
    ui_.Log("The check of the installer's own file failed: ", system_.InstallerFileFailure());
    return result == IntegrityResult::Distorted ? End(text::kPackageDistorted, exit_code::kPackageDistorted)
                                                : End(text::kPackageUncheckable, exit_code::kPackageUncheckable);
  }

  bool FindProduct() {
    if (!system_.FileExists(product::ExecutableIn(state_.Location.ProductFolder)))
      return End(text::kNoProduct, exit_code::kNotInstalled);
    return true;
  }

  bool Confirm() {
    if (Mode() != RunMode::Interactive) return true;
    const bool russian = ui_.RussianMessages();
    if (ui_.Ask(ConfirmationQuestion(state_.AddonDescription, russian), russian, "Question: install the add-on?"))
      return true;
    // Not installed: a deployment tool must not take this run for a success.
    ending_ = exit_code::kDeclined;
    return false;
  }

  RunMode Mode() const { return arguments_.Mode; }

  void StagePayload() {
    system_.StagePayload(constants_.PayloadName, constants_.PayloadExt, target_, constants_.PayloadParts, staged_);
  }

  // Where nothing is asked and nothing asked to quit before the write (a modest or quiet run, the
  // product not running), the payload is staged while the check of the installer's own file
  // still hashes its last pieces: the write then costs little beyond that check. Only where the
  // product is there, the lock is to be had at once and no leftover holds the temporary name: a
  // distorted installer must end exactly as it always has, having changed nothing.
  void StageWhileTheCheckRuns() {
    if (Mode() == RunMode::Interactive || system_.IsProductRunning() ||
        !system_.FileExists(product::ExecutableIn(state_.Location.ProductFolder)) ||
        system_.FileExists(MakeTempName(target_)) ||
        system_.TakeRunLock(state_.Location.ProductFolder, 0).Outcome != RunLock::State::Taken)
      return;
    StagePayload();
  }

  // The data file cannot be installed: why in the log, then the message.
  void CannotInstall(std::string_view why, std::wstring_view detail = {}) {
    ui_.Log(why, detail);
    ui_.ShowBilingualError(text::kCannotInstallFile, target_);
  }
  static std::wstring ErrorNumber(unsigned long error) { return DecimalText(static_cast<std::int32_t>(error)); }
  WriteResult Failed(unsigned long error) {
    CannotInstall("Writing failed with Windows error ", ErrorNumber(error));
    return WriteResult::Failed;
  }

  // What the comparison read: the language files it could not handle are reported, each
  // version goes into the log.
  void ReportVersions() {
    const ComparedVersion& payload = staged_.Payload;
    const ComparedVersion& installed = staged_.Installed;
    const ComparedVersion& waiting = staged_.Waiting;
    if (payload.CannotHandle) ui_.ShowBilingualError(text::kCannotHandleLanguageFile, staged_.Temp);
    if (installed.CannotHandle) ui_.ShowBilingualError(text::kCannotHandleLanguageFile, target_);
    if (waiting.CannotHandle) ui_.ShowBilingualError(text::kCannotHandleLanguageFile, MakeRestartName(target_));
    LogVersion("Version of the installed copy: ", installed);
    LogVersion("Version of the copy that replaces it at the next restart: ", waiting);
    LogVersion("Version of this add-on: ", payload);
  }
  void LogVersion(std::string_view what, const ComparedVersion& read) {
    if (read.Compared) ui_.Log(what, read.Known ? std::wstring_view(read.Text) : L"unknown: it cannot be read");
  }

  // The payload staged (now, unless it was while the check ran), the question before an older
  // payload replaces a newer copy, and the commit, with the progress window around the question.
  WriteResult WriteStaged() {
    if (!staged_.Ready && staged_.Destination.empty()) StagePayload();
    ReportVersions();
    if (!staged_.Ready) return Failed(staged_.Error);
    // At a desk a version that cannot be read counts as 0, as it always has: the write then
    // replaces the copy once its holder lets go, or fails. A quiet run would leave that write for
    // the next restart, which would then replace a copy of a version nobody knows, a newer one
    // perhaps: the copy is kept, and the run fails.
    const bool quiet = Mode() == RunMode::Quiet;
    if (staged_.VersionUnknown && quiet) {
      ui_.Log("A version cannot be read, so the installed copy is kept");
      system_.DiscardPayload(staged_);
      return Failed(staged_.ReadError);
    }
    const bool older = staged_.PayloadIsOlder;
    if (older) {
      ui_.HideProgress();
      const bool russian = ui_.RussianMessages();
      const Question question = OlderPayloadQuestion(target_, staged_.NewerText, staged_.Payload.Text, russian);
      if (!ui_.Ask(question, russian, "Question: replace the newer installed copy with this older one?")) {
        system_.DiscardPayload(staged_);
        ui_.Log("Kept the newer installed copy");
        return ProgressShownAgain() ? WriteResult::KeptNewer : WriteResult::Failed;
      }
    }
    CloseRunningProduct closeProduct(system_, ui_);
    const WriteResult result =
        system_.CommitPayload(staged_, closeProduct, quiet ? InUsePolicy::ReplaceAtRestart : InUsePolicy::Fail);
    if (result == WriteResult::Failed) return Failed(staged_.Error);
    if (older && !ProgressShownAgain()) return WriteResult::Failed;
    ui_.Log(result == WriteResult::Written ? "Written: " : "In use: replaced at the next restart: ", target_);
    return result;
  }

  // After the question the progress window comes back, blank, for the rest of the run; a window
  // thread that cannot be started fails the step like a failed write.
  bool ProgressShownAgain() {
    if (ui_.ShowProgress("", "")) return true;
    CannotInstall("The progress window cannot be shown");
    return false;
  }

  WriteResult Write() {
    const WriteResult result = WriteStaged();
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
        state_.Location.ProductFolder, written == WriteResult::AtRestart ? target_ : std::wstring());
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
    if (Mode() == RunMode::Quiet) return;
    if (Mode() == RunMode::Modest) {
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
  std::wstring target_;  // where the data file goes
  StagedPayload staged_;
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
