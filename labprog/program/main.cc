// kabrun32: the lab program. Shows the frame with the status window,
// hosts the communication control invisibly, finds the card or runs in
// demonstration mode, and polls the card while it is online.
#include <QApplication>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "automation/inproc.h"
#include "controls/control.h"
#include "labprog/card_actions.h"
#include "labprog/configuration_file.h"
#include "labprog/controller_link.h"
#include "labprog/lab_program.h"
#include "labprog/plot_data.h"
#include "labprog/startup.h"
#include "labprog/status_poll.h"
#include "labprog/units.h"
#include "platform/module.h"
#include "ui/form_language.h"
#include "ui/qt_message_service.h"
#include "download_form.h"
#include "hardware_forms.h"
#include "lab_windows.h"

namespace {

using namespace zimo;           // NOLINT
using namespace zimo::labprog;  // NOLINT

// The status window as the control's container: user mode, named VoctoKS
// (so the control keeps its settings in VoctoKS.INI).
class ControlSite : public controls::ControlSite {
 public:
  bool UserMode() const override { return true; }
  std::string DisplayName() const override { return "VoctoKS"; }
  uint32_t BackColor() const override { return 0x00400000; }
  bool UIDead() const override { return false; }
  void OnChanged(automation::DispId) override {}
  void OnModified(bool) override {}
};

class Windows : public ShellWindows {
 public:
  explicit Windows(MainMdiForm& frame, StatusWindow& state) : frame_(frame), state_(state) {}
  void SetFrameCaption(const std::string& caption) override {
    frame_.setWindowTitle(QString::fromLatin1(caption.c_str()));
  }
  void SetStatusPanelCaptions(const StatusPanelCaptions& c) override {
    state_.CmdPanel.text = c.Cmd;
    for (int i = 0; i < 3; ++i) {
      state_.PosPanel[i].text = c.Pos[i];
      state_.FEPanel[i].text = c.FE[i];
    }
    if (c.SensorCalibrationEnabled) frame_.Item("mnuSensorCalibration")->setEnabled(true);
  }
  void Beep() override { QApplication::beep(); }

 private:
  MainMdiForm& frame_;
  StatusWindow& state_;
};

HardwareDriver BindDriver() {
  static platform::Module jux;
  auto loaded = platform::Module::Load("libjux170.so");
  HardwareDriver driver;
  if (!loaded.ok()) return driver;
  jux = std::move(loaded.value());
  auto configured = jux.Function<int()>("HwIsDriverConfigured");
  auto configure = jux.Function<int()>("HwConfigureDriver");
  if (configured.ok()) driver.is_configured = *configured;
  if (configure.ok()) driver.configure = *configure;
  return driver;
}

std::string ChooseFile(QWidget* parent, bool save, const char* title, const char* filter) {
  const QString name =
      save ? QFileDialog::getSaveFileName(parent, title, QString(), filter)
           : QFileDialog::getOpenFileName(parent, title, QString(), filter);
  return name.toStdString();
}

}  // namespace

constexpr char kHelp[] =
    "usage: kabrun32 [FILE.cfg]\n"
    "       kabrun32 --help\n"
    "The lab program: runs control experiments on a laboratory plant through a\n"
    "Zimo card reached by the VoctoKS control (its card and port come from\n"
    "VoctoKS.INI). At start it looks for the card and, when none answers, offers\n"
    "the communications set-up or goes on in demonstration mode.\n"
    "\n"
    "  FILE.cfg    the experiment settings to load at start (else default.cfg\n"
    "              of the current folder, when there is one)\n"
    "  --help      prints this text and ends\n"
    "\n"
    "Example:\n"
    "  kabrun32 step.cfg\n"
    "\n"
    "Exit status: 0 when the program ends from its File menu, 1 when it cannot\n"
    "start (the port-I/O driver is missing).\n";

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  QApplication app(argc, argv);
  ui::QtMessageService boxes;
  platform::ScopedMessageService scoped_boxes(boxes);
  if (!SplashStart(BindDriver())) return 1;

  MainMdiForm frame;
  StatusWindow state;
  std::shared_ptr<automation::Dispatch> object;
  ControlSite site;
  if (automation::Succeeded(automation::CreateInprocInstance("VOCTOKS.VoctoKSCtrl.1", &object)) &&
      object->Supports(controls::kIidControl)) {
    auto* control = static_cast<controls::Control*>(object.get());
    control->SetClientSite(&site);
    control->InitNew();
  }
  VoctoClass vocto(object);
  ControllerLink link(vocto, state);
  Windows windows(frame, state);
  LabProgram program(link, windows);
  link.set_program(&program);

  auto* form = new StatusForm(state);
  QMdiSubWindow* sub = frame.area()->addSubWindow(form);
  form->on_brake = [&](int i) { BrakeButtonClick(program, state, i); };
  form->on_kill = [&] { KillButtonClick(program); };
  frame.show();
  sub->showMaximized();

  std::string command_line;
  for (int i = 1; i < argc; ++i) command_line += std::string(i > 1 ? " " : "") + argv[i];
  LoadStatusWindow(program, state, link, std::filesystem::current_path().string(), command_line);
  form->Refresh();

  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    PollTick(program, state);
    form->Refresh();
    frame.Item("mnuCmdRotor")->setText(QString::fromLatin1(state.RotorMenuItem.text.c_str()));
  });
  poll.start();

  frame.OnItem("mnuFileAbout", [&] { AboutForm(&frame).exec(); });
  frame.OnItem("mnuFileExit", [&] { app.quit(); });
  frame.OnItem("mnuFileLoad", [&] {
    const std::string file = ChooseFile(&frame, false, "Load Configuration File",
                                        "Configuration Files (*.cfg);;All files (*.*)");
    if (!file.empty()) LoadConfiguration(program, file);
  });
  frame.OnItem("mnuFileSave", [&] {
    const std::string file = ChooseFile(&frame, true, "Save Configuration File",
                                        "Configuration Files (*.cfg);;All files (*.*)");
    if (file.empty()) return;
    program.Config.Filename = file;
    SaveConfiguration(program);
  });
  frame.OnItem("mnuSetupComm", [&] { vocto.SelectDevice(); });
  frame.OnItem("mnuCmdRotor", [&] {
    if (link.OnlineFlag == -1) {
      link.SendControllerCommand(link.ReplyText, "M136");
      if (ui::Val(link.ReplyText) != 0) {
        link.SendControllerCommand(link.ReplyText, "M136=0");
        return;
      }
    }
    RotorForm(program, &frame).exec();
  });
  frame.OnItem("mnuUtilConfig", [&] { ConfigDacForm(program, &frame).exec(); });
  frame.OnItem("mnuSensorCalibration", [&] { SensorForm(program, &frame).exec(); });
  int16_t plot_file_mode = 0;
  frame.OnItem("mnuPlotLoad", [&] {
    const std::string file =
        ChooseFile(&frame, false, "Load Plot File", "Plot Files (*.plt);;All files (*.*)");
    if (!file.empty()) LoadPlotData(program, file, plot_file_mode);
  });
  frame.OnItem("mnuDataExport", [&] {
    const std::string file =
        ChooseFile(&frame, true, "Export Data", "Text Files (*.txt);;All files (*.*)");
    if (!file.empty()) ExportRawData(program, file);
  });
  frame.OnItem("mnuUtilZero", [&] { ZeroPosition(program); });
  frame.OnItem("mnuUtilReset", [&] { ResetController(program); });
  frame.OnItem("mnuUtilDownload", [&] {
    const std::string file = ChooseFile(&frame, false, "Download Personality File",
                                        "Personality Files (*.zko);;All files (*.*)");
    if (file.empty()) return;
    DownloadForm(program, state, file, &frame).exec();
    (void)link.ConnectController();
  });

  const int result = app.exec();
  UnloadStatusWindow();
  return result;
}
