#include <gtest/gtest.h>

#include "util/memory_ports.h"

namespace qm {
namespace {

MemoryOrderList ListOf(int n) {
  MemoryOrderList list(2);
  for (int i = 0; i < n; ++i) list.AppendRow({std::to_string(i), std::to_string(i * 10)});
  return list;
}

std::vector<std::string> Column0(const OrderList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.RowCount(); ++i) out.push_back(list.Cell(i, 0));
  return out;
}

// The one-by-one default of the port, for comparison with the list's own pass.
class DefaultDeletes : public MemoryOrderList {
 public:
  DefaultDeletes() : MemoryOrderList(2) {}
  void DeleteRows(const std::vector<int>& rows) override { OrderList::DeleteRows(rows); }
};

TEST(OrderListRows, DeletingManyRowsAtOnceMatchesDeletingThemOneByOne) {
  const std::vector<int> doomed = {7, 0, 3, 3, 9, -1, 10, 42};
  MemoryOrderList fast = ListOf(10);
  DefaultDeletes slow;
  for (int i = 0; i < 10; ++i) slow.AppendRow({std::to_string(i), std::to_string(i * 10)});
  fast.SetCurrentRow(5);
  slow.SetCurrentRow(5);
  fast.DeleteRows(doomed);
  slow.DeleteRows(doomed);
  const std::vector<std::string> expected = {"1", "2", "4", "5", "6", "8"};
  EXPECT_EQ(Column0(fast), expected);
  EXPECT_EQ(Column0(slow), expected);
  // The focused row follows its order.
  EXPECT_EQ(fast.Cell(fast.CurrentRow(), 0), "5");
  EXPECT_EQ(slow.Cell(slow.CurrentRow(), 0), "5");
  EXPECT_EQ(fast.Cell(1, 1), "20");

  // Deleting the focused row leaves no focus; nothing valid deletes nothing.
  fast.SetCurrentRow(0);
  fast.DeleteRows({0});
  EXPECT_EQ(fast.CurrentRow(), -1);
  fast.DeleteRows({-3, 99});
  EXPECT_EQ(fast.RowCount(), 5);
}

}  // namespace
}  // namespace qm
