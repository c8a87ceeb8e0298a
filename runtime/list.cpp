#include "runtime/list.h"

#include "runtime/memory_block.h"

namespace {

// The node's links fill 16 bytes, so a payload keeps the block's alignment.
static_assert(sizeof(ListNode) == 16);

ListNode* NodeOf(void* payload) {
    return reinterpret_cast<ListNode*>(static_cast<char*>(payload) - sizeof(ListNode));
}

void* PayloadOf(ListNode* node) {
    return node == nullptr ? nullptr : reinterpret_cast<char*>(node) + sizeof(ListNode);
}

ListNode* NewNode(int64_t payloadSize) {
    if (payloadSize < 1) payloadSize = 1;
    if (payloadSize > INT64_MAX - static_cast<int64_t>(sizeof(ListNode))) return nullptr;
    return static_cast<ListNode*>(
        MemoryAllocate(static_cast<int64_t>(sizeof(ListNode)) + payloadSize));
}

}  // namespace

void ListLibraryInit() {
    // Lists hold plain payloads here: no record type copies or frees a list field, so there is
    // no copy or free operation to hand to a record layout. The call stays as the start-up hook.
}

void* ListAddHead(ListNode** head, int64_t payloadSize) {
    return ListInsertAfter(head, nullptr, payloadSize);
}

void* ListInsertAfter(ListNode** head, void* after, int64_t payloadSize) {
    ListNode* node = NewNode(payloadSize);
    if (node == nullptr) return nullptr;
    if (after == nullptr) {
        node->next = *head;
        if (*head != nullptr) (*head)->previous = node;
        *head = node;
    } else {
        ListNode* before = NodeOf(after);
        node->previous = before;
        node->next = before->next;
        if (before->next != nullptr) before->next->previous = node;
        before->next = node;
    }
    return PayloadOf(node);
}

void ListRemove(ListNode** head, void* payload) {
    if (payload == nullptr) return;
    ListNode* node = NodeOf(payload);
    if (node->previous != nullptr) {
        node->previous->next = node->next;
    } else {
        *head = node->next;
    }
    if (node->next != nullptr) node->next->previous = node->previous;
    MemoryFree(node);
}

void ListFreeAll(ListNode** head) {
    ListNode* node = *head;
    while (node != nullptr) {
        ListNode* next = node->next;
        MemoryFree(node);
        node = next;
    }
    *head = nullptr;
}

bool ListContains(const ListNode* head, const void* address) {
    for (const ListNode* node = head; node != nullptr; node = node->next) {
        if (reinterpret_cast<const char*>(node) + sizeof(ListNode) == address) return true;
    }
    return false;
}

void* ListFirst(ListNode* head) {
    return PayloadOf(head);
}

void* ListLast(ListNode* head) {
    if (head == nullptr) return nullptr;
    ListNode* node = head;
    while (node->next != nullptr)
        node = node->next;
    return PayloadOf(node);
}

void* ListNext(void* payload) {
    return payload == nullptr ? nullptr : PayloadOf(NodeOf(payload)->next);
}

void* ListPrevious(void* payload) {
    return payload == nullptr ? nullptr : PayloadOf(NodeOf(payload)->previous);
}
