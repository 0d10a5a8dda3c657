// The command path of the lab program: the five link functions over the
// one VoctoClass, and the connection check that decides between a live
// card and demonstration mode and learns which plant is connected.
#pragma once

#include <functional>
#include <string>

#include "labprog/command_path.h"
#include "labprog/status_window.h"
#include "labprog/vocto_class.h"

namespace zimo::labprog {

struct LabProgram;

class ControllerLink : public CommandPath {
 public:
  // `program` supplies the plant's captions and records the apparatus;
  // `window` receives the apparatus panel and the disturbance row.
  ControllerLink(VoctoClass& vocto, StatusWindow& window) : vocto_(vocto), window_(window) {}
  void set_program(LabProgram* program) { program_ = program; }

  void SendControllerCommand(std::string& reply, std::string_view command) override;
  int16_t ReadControllerLine(std::string& line) override;
  void SendControllerLine(std::string_view command) override;
  void ClearControllerBuffer() override;
  bool ConnectController() override;

  // The hourglass while the connection is checked (busy true, then false).
  std::function<void(bool busy)> on_busy;

  VoctoClass& vocto() { return vocto_; }

 private:
  VoctoClass& vocto_;
  LabProgram* program_ = nullptr;
  StatusWindow& window_;
  std::string connect_reply_;
  std::string accessory_reply_;
};

}  // namespace zimo::labprog
