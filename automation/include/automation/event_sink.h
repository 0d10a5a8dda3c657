// A sink a client hands to Advise: it receives the events of one source
// interface and passes each call to a handler.
#pragma once

#include <functional>
#include <memory>
#include <span>

#include "automation/dispatch.h"

namespace zimo::automation {

class EventSink : public Dispatch {
 public:
  // The handler gets the event's DISPID and its arguments in declared
  // order; what it returns is the event call's result (some events carry
  // the client's answer back).
  using Handler = std::function<HRESULT(DispId id, std::span<Variant> args, Variant* result)>;

  EventSink(const InterfaceInfo& events, Handler handler)
      : events_(events), handler_(std::move(handler)) {}

  HRESULT Invoke(DispId id, uint16_t flags, std::span<Variant> args, Variant* result,
                 ExcepInfo* excep) override {
    return handler_ ? handler_(id, args, result) : S_OK;
  }
  const InterfaceInfo* TypeInfo() const override { return &events_; }

 private:
  const InterfaceInfo& events_;
  Handler handler_;
};

inline std::shared_ptr<EventSink> MakeEventSink(const InterfaceInfo& events,
                                                EventSink::Handler handler) {
  return std::make_shared<EventSink>(events, std::move(handler));
}

}  // namespace zimo::automation
