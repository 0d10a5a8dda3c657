// An interface written once: each row names a member (DISPID, name, kind,
// parameters) and the method that serves it, and both the interface
// description and the dispatch table are made from the same rows.
//
//   static const DispatchRows<MyObject>& Rows() {
//     using R = DispatchRows<MyObject>;
//     static const R rows("IMyObject", kIidMyObject, {
//         R::Row<&MyObject::get_ScanInterval>(4, "ScanInterval", kPropertyGet, kGet), ...});
//     return rows;
//   }
//
// The rows keep their order (the interface's slot order). The binding
// checks of DispatchTable apply to each row as it is built.
#pragma once

#include <initializer_list>
#include <string_view>
#include <vector>

#include "automation/dispatch_table.h"

namespace zimo::automation {

template <typename T>
class DispatchRows {
 public:
  using Table = DispatchTable<T>;

  struct Entry {
    MemberInfo member;
    typename Table::Binding binding;
  };

  template <auto Fn>
  static Entry Row(DispId id, std::string_view name, uint16_t kind,
                   std::span<const ParamInfo> params, VarType result = VT_EMPTY) {
    return {{id, name, kind, params, result}, Table::template Bind<Fn>(id, kind)};
  }

  DispatchRows(std::string_view name, const Guid& iid, std::initializer_list<Entry> rows)
      : members_(MembersOf(rows)), info_{name, iid, members_}, table_(info_, BindingsOf(rows)) {}
  DispatchRows(const DispatchRows&) = delete;
  DispatchRows& operator=(const DispatchRows&) = delete;

  const InterfaceInfo& info() const { return info_; }
  const Table& table() const { return table_; }

 private:
  static std::vector<MemberInfo> MembersOf(std::initializer_list<Entry> rows) {
    std::vector<MemberInfo> members;
    members.reserve(rows.size());
    for (const Entry& e : rows) members.push_back(e.member);
    return members;
  }
  static std::vector<typename Table::Binding> BindingsOf(std::initializer_list<Entry> rows) {
    std::vector<typename Table::Binding> bindings;
    bindings.reserve(rows.size());
    for (const Entry& e : rows) bindings.push_back(e.binding);
    return bindings;
  }

  std::vector<MemberInfo> members_;
  InterfaceInfo info_;
  Table table_;
};

}  // namespace zimo::automation
