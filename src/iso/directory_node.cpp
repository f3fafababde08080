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
    node->sourceExtent = extent;
    node->sourceSize = 0;
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

DirectoryNode* appendNode(NodeList& head, NodeList node) {
    DirectoryNode* appended = node.get();
    if (!head) {
        head = std::move(node);
    } else {
        lastNode(head.get())->next = std::move(node);
    }
    return appended;
}
