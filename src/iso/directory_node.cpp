#include "iso/directory_node.h"

DirectoryNode::~DirectoryNode() {
    NodeList rest = std::move(next);
    while (rest) {
        NodeList following = std::move(rest->next);
        rest.reset();
        rest = std::move(following);
    }
}

NodeList makeDotNode(const std::string& name, const std::string& path, uint32_t extent,
                     bool inImage) {
    NodeList node(new DirectoryNode);
    node->path = path;
    node->name = name;
    node->identifier = name;
    node->type = kNodeDirectory;
    node->extent = extent;
    node->size = 0;
    node->inImage = inImage;
    return node;
}

DirectoryNode* lastNode(DirectoryNode* head) {
    if (head == nullptr) {
        return nullptr;
    }
    while (head->next) {
        head = head->next.get();
    }
    return head;
}

DirectoryNode* NodeListBuilder::append(NodeList node) {
    DirectoryNode* appended = node.get();
    (tail_ == nullptr ? head_ : tail_->next) = std::move(node);
    tail_ = appended;
    return appended;
}

NodeList NodeListBuilder::take() {
    tail_ = nullptr;
    return std::move(head_);
}

void insertAfter(DirectoryNode& previous, NodeList node) {
    node->next = std::move(previous.next);
    previous.next = std::move(node);
}
