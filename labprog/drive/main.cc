// kabrun32-drive: runs the lab program's windows in-process and drives them
// from a script, one step per line (from the file named on the command line,
// or stdin), printing one line per step. Boxes and file choosers are answered
// from the script; the status poll runs only when the script ticks it, so a
// run never depends on time. kHelp lists the steps.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPixmap>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "automation/inproc.h"
#include "controls/control.h"
#include "labprog/card_actions.h"
#include "labprog/configuration_file.h"
#include "labprog/controller_link.h"
#include "labprog/lab_program.h"
#include "labprog/plot_data.h"
#include "labprog/startup.h"
#include "labprog/status_poll.h"
#include "platform/message.h"
#include "platform/module.h"
#include "lab_windows.h"

namespace {

using namespace zimo;           // NOLINT
using namespace zimo::labprog;  // NOLINT

constexpr char kHelp[] =
    "usage: kabrun32-drive [SCRIPT]\n"
    "       kabrun32-drive --help\n"
    "\n"
    "Runs the lab program kabrun32's windows in this process and drives them:\n"
    "one step per line of SCRIPT (or of standard input), one line printed per\n"
    "step. Blank lines and lines starting with # are skipped. Words with spaces\n"
    "go in double quotes.\n"
    "\n"
    "Steps:\n"
    "  register LIBRARY      registers a control library (DllRegisterServer)\n"
    "  answer N              the next box is answered N (1 OK, 2 Cancel, 6 Yes, 7 No)\n"
    "  choose PATH           the next file chooser returns PATH (\"\" for Cancel)\n"
    "  start [WORDS]         starts the program with WORDS as its command line:\n"
    "                        the driver check, the frame, the control, the card\n"
    "  pick NAME             picks the frame's menu item NAME\n"
    "  press NAME            clicks the button NAME in any open window\n"
    "  fill NAME TEXT        types TEXT into the field NAME\n"
    "  tick [N]              runs N status poll ticks (default 1)\n"
    "  text NAME             prints the text of the label, field or button NAME\n"
    "  expect NAME TEXT      fails unless NAME shows TEXT\n"
    "  visible NAME          prints whether NAME is shown (yes or no)\n"
    "  caption               prints the frame's caption\n"
    "  wait-window NAME      waits until a window NAME is shown\n"
    "  wait-caption TEXT     waits until the frame's caption is TEXT\n"
    "  wait-var VAR VALUE    asks the card VAR until it answers VALUE\n"
    "  screenshot FILE [NAME] saves the frame (or the window NAME) as FILE (PNG)\n"
    "  quit                  ends the program as File/Exit does\n"
    "Waits give up after 30 s and fail the step. Boxes are printed as\n"
    "  box \"TEXT\" caption \"CAPTION\" answer N\n"
    "Dialogs the program shows modally are shown modeless, so that the\n"
    "script goes on; press their buttons to close them.\n"
    "\n"
    "Example:\n"
    "  printf 'answer 7\\nstart\\ncaption\\npick mnuFileAbout\\npress OKButton\\n' |\n"
    "    QT_QPA_PLATFORM=offscreen kabrun32-drive\n"
    "\n"
    "Exit status: 0 when every step succeeded, 1 when a step failed, 2 for\n"
    "a script that cannot be read.\n";

class ControlSite : public controls::ControlSite {
 public:
  bool UserMode() const override { return true; }
  std::string DisplayName() const override { return "VoctoKS"; }
  uint32_t BackColor() const override { return 0x00400000; }
  bool UIDead() const override { return false; }
  void OnChanged(automation::DispId) override {}
  void OnModified(bool) override {}
};

void Print(const std::string& line) { std::cout << line << std::endl; }

// Boxes printed and answered from the script.
class Boxes : public platform::MessageService {
 public:
  int Show(std::string_view text, std::string_view caption, uint32_t flags) override {
    const int answer = recorder.Show(text, caption, flags);
    Print("box \"" + std::string(text) + "\" caption \"" + std::string(caption) + "\" answer " +
          std::to_string(answer));
    return answer;
  }
  platform::MessageRecorder recorder;
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

class Windows : public ShellWindows {
 public:
  Windows(MainMdiForm& frame, StatusWindow& state) : frame_(frame), state_(state) {}
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
  void Beep() override { Print("beep"); }

 private:
  MainMdiForm& frame_;
  StatusWindow& state_;
};

// The running program: the same windows and shell pieces kabrun32 builds.
struct Session {
  MainMdiForm frame;
  StatusWindow state;
  std::shared_ptr<automation::Dispatch> object;
  ControlSite site;
  std::unique_ptr<VoctoClass> vocto;
  std::unique_ptr<ControllerLink> link;
  std::unique_ptr<Windows> windows;
  std::unique_ptr<LabProgram> program;
  StatusForm* form = nullptr;
  int16_t plot_file_mode = 0;

  ~Session() {
    UnloadStatusWindow();
    program.reset();
    link.reset();
    vocto.reset();
    if (object != nullptr && object->Supports(controls::kIidControl)) {
      static_cast<controls::Control*>(object.get())->SetClientSite(nullptr);
    }
  }
};

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) end = line.size();
      words.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = line.find(' ', i);
      if (end == std::string::npos) end = line.size();
      words.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return words;
}

class Driver {
 public:
  explicit Driver(QApplication& app) : app_(app) {}

  int Run(std::istream& in) {
    std::string line;
    int failures = 0;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      if (!Step(line)) ++failures;
      QApplication::processEvents();
    }
    session_.reset();
    return failures == 0 ? 0 : 1;
  }

  Boxes boxes;

 private:
  bool Fail(const std::string& why) {
    Print("error: " + why);
    return false;
  }

  QWidget* Find(const std::string& name) const {
    const QString wanted = QString::fromStdString(name);
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (!top->isVisible()) continue;
      if (top->objectName() == wanted) return top;
      if (auto* child = top->findChild<QWidget*>(wanted)) return child;
    }
    return nullptr;
  }

  static std::string TextOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
    return widget->windowTitle().toStdString();
  }

  // Runs events until `done` holds; false after 30 s.
  template <typename Condition>
  bool WaitFor(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  std::string Choose() {
    if (chosen_.empty()) {
      Print("file chooser: no answer in the script, cancelled");
      return {};
    }
    std::string path = chosen_.front();
    chosen_.pop_front();
    Print("file chooser: " + (path.empty() ? std::string("cancelled") : path));
    return path;
  }

  bool Start(const std::vector<std::string>& w) {
    if (session_ != nullptr) return Fail("start: already started");
    if (!SplashStart(BindDriver())) {
      Print("start: ended at the driver check");
      return true;
    }
    auto s = std::make_unique<Session>();
    if (automation::Succeeded(
            automation::CreateInprocInstance("VOCTOKS.VoctoKSCtrl.1", &s->object)) &&
        s->object->Supports(controls::kIidControl)) {
      auto* control = static_cast<controls::Control*>(s->object.get());
      control->UseMessageService(&boxes);
      control->SetClientSite(&s->site);
      control->InitNew();
    } else {
      Print("start: VoctoKS not created");
    }
    s->vocto = std::make_unique<VoctoClass>(s->object);
    s->link = std::make_unique<ControllerLink>(*s->vocto, s->state);
    s->windows = std::make_unique<Windows>(s->frame, s->state);
    s->program = std::make_unique<LabProgram>(*s->link, *s->windows);
    s->link->set_program(s->program.get());
    s->form = new StatusForm(s->state);
    QMdiSubWindow* sub = s->frame.area()->addSubWindow(s->form);
    Session* raw = s.get();
    s->form->on_brake = [raw](int i) { BrakeButtonClick(*raw->program, raw->state, i); };
    s->form->on_kill = [raw] { KillButtonClick(*raw->program); };
    s->frame.show();
    sub->showMaximized();
    std::string command_line;
    for (size_t i = 1; i < w.size(); ++i) command_line += (i > 1 ? " " : "") + w[i];
    LoadStatusWindow(*s->program, s->state, *s->link, std::filesystem::current_path().string(),
                     command_line);
    s->form->Refresh();
    Wire(*s);
    session_ = std::move(s);
    Print("start: " + std::string(session_->link->OnlineFlag == -1 ? "online" : "demonstration mode"));
    return true;
  }

  void Wire(Session& s) {
    MainMdiForm& frame = s.frame;
    frame.OnItem("mnuFileAbout", [this] {
      auto* about = new AboutForm(&session_->frame);
      about->setAttribute(Qt::WA_DeleteOnClose);
      about->show();
    });
    frame.OnItem("mnuFileExit", [this] { quit_ = true; });
    frame.OnItem("mnuFileLoad", [this] {
      const std::string file = Choose();
      if (!file.empty()) LoadConfiguration(*session_->program, file);
    });
    frame.OnItem("mnuFileSave", [this] {
      const std::string file = Choose();
      if (file.empty()) return;
      session_->program->Config.Filename = file;
      SaveConfiguration(*session_->program);
    });
    frame.OnItem("mnuPlotLoad", [this] {
      const std::string file = Choose();
      if (!file.empty()) LoadPlotData(*session_->program, file, session_->plot_file_mode);
    });
    frame.OnItem("mnuDataExport", [this] {
      const std::string file = Choose();
      if (!file.empty()) ExportRawData(*session_->program, file);
    });
    frame.OnItem("mnuUtilZero", [this] { ZeroPosition(*session_->program); });
    frame.OnItem("mnuUtilReset", [this] { ResetController(*session_->program); });
  }

  bool Step(const std::string& line) {
    const std::vector<std::string> w = Words(line);
    const std::string& cmd = w[0];
    if (cmd == "register" && w.size() == 2) {
      auto module = platform::Module::Load(w[1]);
      if (!module.ok()) return Fail("register: cannot load " + w[1]);
      auto reg = module->Function<int32_t()>("DllRegisterServer");
      if (!reg.ok() || *reg == nullptr) return Fail("register: no DllRegisterServer");
      static auto* const kept = new std::vector<platform::Module>;
      kept->push_back(std::move(module.value()));
      const int32_t hr = (*reg)();
      Print("register: " + std::to_string(hr));
      return hr == 0;
    }
    if (cmd == "answer" && w.size() == 2) {
      boxes.recorder.QueueAnswer(std::atoi(w[1].c_str()));
      Print("answer: " + w[1]);
      return true;
    }
    if (cmd == "choose" && w.size() <= 2) {
      chosen_.push_back(w.size() == 2 ? w[1] : std::string());
      Print("choose: " + (w.size() == 2 ? w[1] : std::string("cancel")));
      return true;
    }
    if (cmd == "start") return Start(w);
    if (session_ == nullptr) return Fail(cmd + ": the program is not started");
    if (cmd == "pick" && w.size() == 2) {
      QAction* item = session_->frame.Item(w[1]);
      if (item == nullptr) return Fail("pick: no menu item " + w[1]);
      if (!item->isEnabled()) return Fail("pick " + w[1] + ": disabled");
      Print("pick " + w[1] + " \"" + item->text().toStdString() + "\"");
      item->trigger();
      return true;
    }
    if (cmd == "press" && w.size() == 2) {
      auto* button = qobject_cast<QAbstractButton*>(Find(w[1]));
      if (button == nullptr) return Fail("press: no button " + w[1]);
      Print("press " + w[1] + " \"" + button->text().toStdString() + "\"");
      button->click();
      return true;
    }
    if (cmd == "fill" && w.size() == 3) {
      auto* edit = qobject_cast<QLineEdit*>(Find(w[1]));
      if (edit == nullptr) return Fail("fill: no field " + w[1]);
      edit->setText(QString::fromStdString(w[2]));
      Print("fill " + w[1] + ": " + w[2]);
      return true;
    }
    if (cmd == "tick" && w.size() <= 2) {
      const int count = w.size() == 2 ? std::atoi(w[1].c_str()) : 1;
      for (int i = 0; i < count; ++i) {
        PollTick(*session_->program, session_->state);
        session_->form->Refresh();
      }
      Print("tick: " + std::to_string(count));
      return true;
    }
    if ((cmd == "text" && w.size() == 2) || (cmd == "expect" && w.size() == 3)) {
      QWidget* widget = Find(w[1]);
      if (widget == nullptr) return Fail(cmd + ": no window " + w[1]);
      const std::string text = TextOf(widget);
      Print(cmd + " " + w[1] + ": \"" + text + "\"");
      if (cmd == "expect" && text != w[2]) return Fail("expected \"" + w[2] + "\"");
      return true;
    }
    if (cmd == "visible" && w.size() == 2) {
      QWidget* widget = Find(w[1]);
      if (widget == nullptr) return Fail("visible: no window " + w[1]);
      Print("visible " + w[1] + ": " + (widget->isVisible() ? "yes" : "no"));
      return true;
    }
    if (cmd == "caption" && w.size() == 1) {
      Print("caption: \"" + session_->frame.windowTitle().toStdString() + "\"");
      return true;
    }
    if (cmd == "wait-window" && w.size() == 2) {
      if (!WaitFor([&] { return Find(w[1]) != nullptr; })) return Fail("no window " + w[1]);
      Print("wait-window " + w[1] + ": shown");
      return true;
    }
    if (cmd == "wait-caption" && w.size() == 2) {
      if (!WaitFor([&] { return session_->frame.windowTitle().toStdString() == w[1]; })) {
        return Fail("caption stays \"" + session_->frame.windowTitle().toStdString() + "\"");
      }
      Print("wait-caption: \"" + w[1] + "\"");
      return true;
    }
    if (cmd == "wait-var" && w.size() == 3) {
      if (session_->link->OnlineFlag != -1) return Fail("wait-var: the card is not online");
      std::string reply;
      if (!WaitFor([&] {
            session_->link->SendControllerCommand(reply, w[1]);
            return reply == w[2];
          })) {
        return Fail("wait-var " + w[1] + ": answers \"" + reply + "\"");
      }
      Print("wait-var " + w[1] + ": " + reply);
      return true;
    }
    if (cmd == "screenshot" && (w.size() == 2 || w.size() == 3)) {
      QWidget* window = w.size() == 3 ? Find(w[2]) : &session_->frame;
      if (window == nullptr) return Fail("screenshot: no window " + w[2]);
      QApplication::processEvents();
      if (!window->grab().save(QString::fromStdString(w[1]), "PNG")) {
        return Fail("screenshot: cannot write " + w[1]);
      }
      Print("screenshot " + w[1]);
      return true;
    }
    if (cmd == "quit" && w.size() == 1) {
      session_->frame.Item("mnuFileExit")->trigger();
      if (quit_) session_.reset();
      Print("quit");
      return true;
    }
    return Fail("unknown step: " + line);
  }

  QApplication& app_;
  std::unique_ptr<Session> session_;
  std::deque<std::string> chosen_;
  bool quit_ = false;
};

}  // namespace

// The font configuration library keeps a cache for the life of the process;
// the leak checker of sanitizer builds reads this list.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::cout << kHelp;
    return 0;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  Driver driver(app);
  platform::ScopedMessageService scoped_boxes(driver.boxes);
  if (argc > 1) {
    std::ifstream script(argv[1]);
    if (!script) {
      std::cerr << "kabrun32-drive: cannot read " << argv[1] << "\n";
      return 2;
    }
    return driver.Run(script);
  }
  return driver.Run(std::cin);
}
