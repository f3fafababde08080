#include "iso/directory_node.h"

#include <gtest/gtest.h>

namespace {

NodeList named(const std::string& name) {
    NodeList node(new DirectoryNode);
    node->name = name;
    return node;
}

}  // namespace

// Freeing is checked by LeakSanitizer in the sanitizer build; here the shape of the lists.
TEST(DirectoryNode, ListsAppendInOrderAndLongChainsAreFreedWithoutRecursion) {
    NodeListBuilder builder;
    builder.append(named("."));
    builder.append(named(".."));
    DirectoryNode* sub = builder.append(named("SUB"));
    NodeList list = builder.take();
    EXPECT_EQ(builder.take(), nullptr) << "a builder is empty once its list is taken";
    sub->type = kNodeDirectory;
    builder.append(named("."));
    builder.append(named(".."));
    builder.append(named("FILE"));
    sub->children = builder.take();
    EXPECT_EQ(list->next->name, "..");
    insertAfter(*sub->children->next, named("A"));
    EXPECT_EQ(sub->children->next->next->name, "A");
    EXPECT_EQ(sub->children->next->next->next->name, "FILE");
    EXPECT_EQ(lastNode(list.get())->name, "SUB");
    EXPECT_EQ(lastNode(sub->children.get())->name, "FILE");
    EXPECT_EQ(lastNode(nullptr), nullptr);

    // A chain this long would exhaust the stack if each node freed the next recursively.
    DirectoryNode* tail = lastNode(sub->children.get());
    for (int i = 0; i < 300000; ++i) {
        tail->next = named("F");
        tail = tail->next.get();
    }
    list.reset();
    SUCCEED();
}

TEST(DirectoryNode, DotNodesAreEmptyDirectories) {
    NodeList dot = makeDotNode("..", "I386", 42, true);
    EXPECT_TRUE(dot->isDirectory());
    EXPECT_TRUE(dot->isDotEntry());
    EXPECT_EQ(dot->extent, 42u);
    EXPECT_EQ(dot->size, 0u);
    EXPECT_FALSE(dot->children);
}
