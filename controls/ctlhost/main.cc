// zimo-ctlhost: a scriptable container for the in-process controls. It reads
// one step per line (from the file named on the command line, or stdin) and
// prints one line per step; events, bound-property notifications, timers,
// repaints and boxes are printed as they happen. Runs offscreen when there is
// no display. kHelp below lists the steps.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "automation/event_sink.h"
#include "automation/inproc.h"
#include "controls/control.h"
#include "controls/ui/property_frame_dialog.h"
#include "platform/message.h"
#include "platform/module.h"

namespace {

using namespace zimo;  // NOLINT
using automation::Bstr;
using automation::Variant;

std::string ShowValue(const Variant& v) {
  const Variant& d = v.Deref();
  switch (d.vt()) {
    case automation::VT_BOOL:
      return d.boolean() ? "True" : "False";
    case automation::VT_BSTR:
      return "\"" + d.bstr().ToAnsi() + "\"";
    case automation::VT_EMPTY:
      return "(nothing)";
    default: {
      Bstr text;
      return automation::Succeeded(d.To(&text)) ? text.ToAnsi() : d.DebugString();
    }
  }
}

std::string Hex(automation::HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

class Host : public controls::ControlSite, public platform::MessageService {
 public:
  // ControlSite.
  bool UserMode() const override { return user_mode_; }
  std::string DisplayName() const override { return name_; }
  uint32_t BackColor() const override { return 0x00C0C0C0; }
  bool UIDead() const override { return false; }
  void OnChanged(automation::DispId id) override { Print("changed " + std::to_string(id)); }
  void OnModified(bool) override {}
  // Timers are reported and ticked by the script ("tick <id>"), so runs
  // never depend on time.
  bool SetTimer(controls::Control*, int id, int interval_ms) override {
    Print("timer " + std::to_string(id) + " every " + std::to_string(interval_ms) + " ms");
    return true;
  }
  void KillTimer(controls::Control*, int id) override {
    Print("timer " + std::to_string(id) + " killed");
  }
  void InvalidateControl(controls::Control*) override { Print("repaint"); }

  // MessageService: boxes are printed and answered from the script.
  int Show(std::string_view text, std::string_view caption, uint32_t flags) override {
    int answer = recorder_.Show(text, caption, flags);
    Print("box \"" + std::string(text) + "\" caption \"" + std::string(caption) + "\" answer " +
          std::to_string(answer));
    return answer;
  }

  void Print(const std::string& line) { std::cout << line << std::endl; }

  int Run(std::istream& in) {
    std::string line;
    int failures = 0;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      if (!Step(line)) ++failures;
    }
    // The control goes before the library it lives in.
    frame_dialog_.reset();
    frame_.reset();
    if (control_ != nullptr) control_->UseMessageService(nullptr);
    object_.reset();
    return failures == 0 ? 0 : 1;
  }

 private:
  static std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && line[i] == ' ') ++i;
      if (i >= line.size()) break;
      if (line[i] == '"') {
        size_t end = line.find('"', i + 1);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(i, end - i + 1));
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

  bool Fail(const std::string& what) {
    Print(what);
    return false;
  }

  bool Member(const std::string& word, automation::DispId* id) {
    if (!word.empty() && word[0] == '#') {
      *id = std::atoi(word.c_str() + 1);
      return true;
    }
    return automation::Succeeded(object_->GetIdOfName(word, id));
  }

  static Variant Argument(const std::string& word) {
    if (word.size() >= 2 && word.front() == '"') {
      return Variant(Bstr::FromAnsi(word.substr(1, word.size() - 2)));
    }
    if (word.size() == 3 && word.front() == '\'' && word.back() == '\'') {
      return Variant(static_cast<int32_t>(static_cast<unsigned char>(word[1])));
    }
    if (word == "True" || word == "False") return Variant(word == "True");
    if (word.find('.') != std::string::npos) return Variant(std::atof(word.c_str()));
    return Variant(static_cast<int32_t>(std::strtol(word.c_str(), nullptr, 0)));
  }

  // A control that simulates its communication answers its calls without
  // a card; say so once, before the first call that would otherwise seem
  // to have reached one.
  void NoteSimulation() {
    if (simulation_noted_) return;
    automation::DispId id = 0;
    if (automation::Failed(object_->GetIdOfName("SimulateCommunication", &id))) return;
    Variant value;
    if (automation::Failed(object_->Call(id, automation::kPropertyGet, {}, &value))) return;
    const Variant& d = value.Deref();
    if (d.vt() != automation::VT_BOOL || !d.boolean()) return;
    simulation_noted_ = true;
    Print("note: the control simulates its communication (SimulateCommunication is True): "
          "its calls reach no card; set SimulateCommunication False to use the card");
  }

  bool Step(const std::string& line) {
    std::vector<std::string> w = Words(line);
    const std::string& cmd = w[0];
    if (cmd == "register" && w.size() == 2) {
      auto module = platform::Module::Load(w[1]);
      if (!module.ok()) return Fail("register: cannot load " + w[1]);
      auto reg = module->Function<int32_t()>("DllRegisterServer");
      if (!reg.ok() || *reg == nullptr) return Fail("register: no DllRegisterServer");
      // Stays loaded until the host ends, as a registered server does.
      static auto* const kept = new std::vector<platform::Module>;
      kept->push_back(std::move(module.value()));
      int32_t hr = (*reg)();
      Print("register: " + Hex(hr));
      return hr == 0;
    }
    if (cmd == "create" && w.size() == 2) {
      automation::HRESULT hr = automation::CreateInprocInstance(w[1], &object_);
      if (automation::Failed(hr)) return Fail("create: failed " + Hex(hr));
      if (!object_->Supports(controls::kIidControl)) return Fail("create: not a control");
      control_ = static_cast<controls::Control*>(object_.get());
      simulation_noted_ = false;
      control_->UseMessageService(this);
      control_->SetClientSite(this);
      auto sink = automation::MakeEventSink(
          control_->events(), [this](automation::DispId id, std::span<Variant> args, Variant*) {
            const automation::MemberInfo* m = control_->events().Find(id, automation::kMethod);
            std::string text = "event " + std::string(m != nullptr ? m->name : "?") + "(";
            for (size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + ShowValue(args[i]);
            Print(text + ")");
            return automation::S_OK;
          });
      uint32_t cookie = 0;
      (void)object_->Advise(control_->events().iid, sink, &cookie);
      Print("create: ok " + std::string(object_->TypeInfo() ? object_->TypeInfo()->name : ""));
      return true;
    }
    if (control_ == nullptr) return Fail(cmd + ": no control");
    if (cmd == "site" && w.size() >= 2) {
      user_mode_ = w[1] == "user";
      name_ = w.size() > 2 ? w[2] : "";
      Print("site: " + w[1] + (name_.empty() ? "" : " " + name_));
      return true;
    }
    if (cmd == "mode" && w.size() == 2) {
      user_mode_ = w[1] == "user";
      control_->OnAmbientPropertyChange(controls::kDispidAmbientUserMode);
      Print("mode: " + w[1]);
      return true;
    }
    if (cmd == "new") {
      control_->InitNew();
      Print("new: ok");
      return true;
    }
    if (cmd == "load" && w.size() == 2) {
      auto bag = controls::PropertyBag::LoadFile(w[1]);
      if (!bag.ok()) return Fail("load: " + bag.status().message());
      control_->Load(*bag);
      Print("load: ok");
      return true;
    }
    if (cmd == "save" && w.size() == 2) {
      controls::PropertyBag bag;
      control_->Save(bag);
      platform::Status s = bag.SaveFile(w[1]);
      if (!s.ok()) return Fail("save: " + s.message());
      Print("save: ok");
      return true;
    }
    if (cmd == "tick" && w.size() == 2) {
      control_->OnTimer(std::atoi(w[1].c_str()));
      Print("tick " + w[1]);
      return true;
    }
    if (cmd == "answer" && w.size() == 2) {
      recorder_.QueueAnswer(std::atoi(w[1].c_str()));
      Print("answer: " + w[1]);
      return true;
    }
    if ((cmd == "get" && w.size() == 2) || (cmd == "set" && w.size() == 3)) {
      automation::DispId id = 0;
      if (!Member(w[1], &id)) return Fail(cmd + " " + w[1] + ": unknown member");
      Variant result;
      automation::HRESULT hr = cmd == "get"
                                   ? object_->Call(id, automation::kPropertyGet, {}, &result)
                                   : object_->Call(id, automation::kPropertyPut, {Argument(w[2])});
      if (automation::Failed(hr)) return Fail(cmd + " " + w[1] + ": failed " + Hex(hr));
      Print(cmd + " " + w[1] + (cmd == "get" ? ": " + ShowValue(result) : ": ok"));
      return true;
    }
    if (cmd == "call" && w.size() >= 2) {
      automation::DispId id = 0;
      if (!Member(w[1], &id)) return Fail("call " + w[1] + ": unknown member");
      NoteSimulation();
      std::vector<std::unique_ptr<Variant>> outs;
      std::vector<Variant> args;
      for (size_t i = 2; i < w.size(); ++i) {
        if (w[i] == "@") {
          outs.push_back(std::make_unique<Variant>(Bstr(u"")));
          args.push_back(Variant::ByRef(outs.back().get(), automation::VT_BSTR));
        } else {
          args.push_back(Argument(w[i]));
        }
      }
      Variant result;
      automation::HRESULT hr = object_->Invoke(id, automation::kMethod, args, &result, nullptr);
      if (automation::Failed(hr)) return Fail("call " + w[1] + ": failed " + Hex(hr));
      std::string text = "call " + w[1] + ": " + ShowValue(result);
      for (const auto& o : outs) text += " out " + ShowValue(*o);
      Print(text);
      return true;
    }
    if (cmd == "pages") {
      frame_ = control_->CreatePropertyFrame(object_);
      if (frame_ == nullptr) return Fail("pages: none");
      frame_dialog_ = std::make_unique<controls::ui::PropertyFrameDialog>(*frame_);
      std::string text = "pages:";
      for (size_t i = 0; i < frame_->page_count(); ++i) {
        text += " " + std::string(frame_->page(i).description().caption);
      }
      Print(text);
      return true;
    }
    if (frame_dialog_ == nullptr) return Fail(cmd + ": no pages open");
    if (cmd == "page" && w.size() >= 4) {
      size_t n = static_cast<size_t>(std::atoi(w[1].c_str()));
      int id = std::atoi(w[3].c_str());
      QWidget* widget = frame_dialog_->Control(n, id);
      if (widget == nullptr) return Fail("page " + w[1] + ": no control " + w[3]);
      if (w[2] == "set" && w.size() == 5) {
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
          edit->setText(QString::fromStdString(w[4]));
        frame_dialog_->PullFromWidgets(n);
      } else if (w[2] == "check" && w.size() == 5) {
        if (auto* box = qobject_cast<QCheckBox*>(widget)) box->setChecked(w[4] == "1");
      } else if (w[2] == "press") {
        if (auto* button = qobject_cast<QPushButton*>(widget)) button->click();
      }
      std::string value;
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) value = edit->text().toStdString();
      if (auto* box = qobject_cast<QCheckBox*>(widget)) value = box->isChecked() ? "1" : "0";
      if (auto* label = qobject_cast<QLabel*>(widget)) value = label->text().toStdString();
      Print("page " + w[1] + " " + w[3] + ": " + value);
      return true;
    }
    if (cmd == "press" && w.size() == 2) {
      auto* button = frame_dialog_->findChild<QPushButton*>(QString::fromStdString(w[1]));
      if (button == nullptr) return Fail("press: no button " + w[1]);
      button->click();
      Print("press " + w[1] + (frame_->closed() ? ": closed" : ": open"));
      return true;
    }
    return Fail("unknown step: " + line);
  }

  bool user_mode_ = true;
  bool simulation_noted_ = false;
  std::string name_;
  std::shared_ptr<automation::Dispatch> object_;
  controls::Control* control_ = nullptr;
  std::unique_ptr<controls::PropertyFrame> frame_;
  std::unique_ptr<controls::ui::PropertyFrameDialog> frame_dialog_;
  platform::MessageRecorder recorder_;
};

constexpr char kHelp[] =
    "usage: zimo-ctlhost [SCRIPT]\n"
    "       zimo-ctlhost --help\n"
    "\n"
    "A scriptable container for the controls (libvocto.so, libvoctoks.so): it\n"
    "creates one by its ProgID, sites it on a form, sets its properties, calls\n"
    "its methods and opens its property pages, one step per line of SCRIPT (or\n"
    "of standard input), and prints one line per step. Events, property\n"
    "notifications, timers, repaints and message boxes are printed as they\n"
    "happen. Without a display it runs offscreen.\n"
    "\n"
    "Options:\n"
    "  SCRIPT       the file of steps (default: standard input)\n"
    "  -h, --help   prints this text and ends\n"
    "\n"
    "Steps:\n"
    "  register LIBRARY           loads a control library and lets it register\n"
    "                             itself\n"
    "  create PROGID              makes a control in-process\n"
    "  site design|user [NAME]    places it on a form, with its display name\n"
    "  mode design|user           switches the container's mode\n"
    "  new | load FILE | save FILE   the control's persisted state (property bag)\n"
    "  get MEMBER                 MEMBER: a name or #DISPID\n"
    "  set MEMBER VALUE\n"
    "  call MEMBER [ARGS...]      ARGS: 12, -3, 1.5, True, 'X' (its code), \"text\",\n"
    "                             @ (a text out parameter, printed after the call)\n"
    "  tick ID                    one tick of a control's window timer\n"
    "  answer N                   the answer of the next box (1 OK, 2 Cancel,\n"
    "                             6 Yes, 7 No)\n"
    "  pages                      opens the control's property pages\n"
    "  page N set ID TEXT | page N check ID 0|1 | page N press ID | page N show ID\n"
    "  press OK|Cancel|Apply      a button of the property frame\n"
    "  # ...                      a comment\n"
    "A control that simulates its communication (SimulateCommunication True, the\n"
    "default of a new one) answers without a card; the first call says so.\n"
    "\n"
    "Example:\n"
    "  printf '%s\\n' 'register /usr/lib/x86_64-linux-gnu/libvoctoks.so' \\\n"
    "    'create VOCTOKS.VoctoKSCtrl.1' 'site user Vocto1' 'new' \\\n"
    "    'set SimulateCommunication False' 'call GetResponse @ \"I10\"' | zimo-ctlhost\n"
    "\n"
    "Exit status: 0 when every step succeeded; 1 when a step failed (its line\n"
    "says why); 2 when SCRIPT cannot be opened.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  QApplication app(argc, argv);
  Host host;
  // Boxes of the container's own code (the page frame) are recorded too.
  zimo::platform::ScopedMessageService boxes(host);
  if (argc > 1) {
    std::ifstream script(argv[1]);
    if (!script) {
      std::cerr << "zimo-ctlhost: cannot open " << argv[1] << "\n";
      return 2;
    }
    return host.Run(script);
  }
  return host.Run(std::cin);
}
