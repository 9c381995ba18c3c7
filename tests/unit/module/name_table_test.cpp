#include "server/module/name_table.h"

#include <gtest/gtest.h>

namespace orbalin {
namespace {

// The rows as the type information of IOrbalinObj yields them: get and put
// accessors share name and identifier.
NameTable ContractNames()
{
    NameTable table;
    for (const auto& [name, id] : {std::pair{L"Code", 1}, {L"Code", 1}, {L"Name", 2}, {L"Name", 2}, {L"Price", 3},
                                   {L"Price", 3}, {L"Quantity", 4}, {L"Quantity", 4}, {L"DeviceNumber", 5},
                                   {L"DeviceNumber", 5}, {L"InitOrbalin", 6}, {L"SendCommand", 7},
                                   {L"CheckStatus", 8}})
        table.Add(name, id);
    return table;
}

TEST(NameTable, FindsEveryMemberSpelledExactly)
{
    const NameTable table = ContractNames();
    EXPECT_EQ(table.Size(), 13u);
    EXPECT_EQ(table.Find(L"Quantity"), 4);
    EXPECT_EQ(table.Find(L"DeviceNumber"), 5);
    EXPECT_EQ(table.Find(L"CheckStatus"), 8);
    EXPECT_EQ(table.Find(L"Code"), 1);
}

TEST(NameTable, ComparesCaseAndLengthExactly)
{
    const NameTable table = ContractNames();
    EXPECT_EQ(table.Find(L"quantity"), std::nullopt);
    EXPECT_EQ(table.Find(L"QUANTITY"), std::nullopt);
    EXPECT_EQ(table.Find(L"Quantit"), std::nullopt);
    EXPECT_EQ(table.Find(L"Quantity "), std::nullopt);
    EXPECT_EQ(table.Find(L""), std::nullopt);
    // A name with an embedded NUL is not the name before it.
    EXPECT_EQ(table.Find(std::wstring_view(L"Code\0x", 6)), std::nullopt);
}

TEST(NameTable, LaterRowWinsForARepeatedName)
{
    NameTable table;
    table.Add(L"Price", 3);
    table.Add(L"Price", 30);
    EXPECT_EQ(table.Find(L"Price"), 30);
}

TEST(NameTable, ClearEmptiesTheTable)
{
    NameTable table = ContractNames();
    table.Clear();
    EXPECT_EQ(table.Size(), 0u);
    EXPECT_EQ(table.Find(L"Code"), std::nullopt);
}

}  // namespace
}  // namespace orbalin
