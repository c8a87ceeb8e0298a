// Doubly linked lists of caller-sized payloads. A list is a head pointer (null when empty);
// callers hold payload addresses, and every operation here takes and returns those.
#pragma once

#include <cstdint>

// Links that precede every payload. The head is the newest node unless nodes were inserted
// after others.
struct ListNode {
    ListNode* next;
    ListNode* previous;
};

// Registers the list operations with the runtime; called once at start-up.
void ListLibraryInit();

// Payload of a new zero-filled node put at the head of the list; null when memory is short
// (the list is then unchanged). A payloadSize below 1 gets a one-byte payload.
void* ListAddHead(ListNode** head, int64_t payloadSize);
// Payload of a new zero-filled node put right after the node of `after` (at the head when
// `after` is null); null when memory is short.
void* ListInsertAfter(ListNode** head, void* after, int64_t payloadSize);
// Unlinks the node of payload from the list and frees it; null is ignored. The payload must
// belong to this list (check with ListContains when unsure).
void ListRemove(ListNode** head, void* payload);
// Frees every node and leaves the list empty.
void ListFreeAll(ListNode** head);

// True when address is the payload of one of the list's nodes; only addresses are compared, so
// any value may be asked about.
bool ListContains(const ListNode* head, const void* address);
// Payload of the head node (the newest added with ListAddHead), or null for an empty list.
void* ListFirst(ListNode* head);
// Payload of the last node (the oldest added with ListAddHead), or null for an empty list.
void* ListLast(ListNode* head);
// Payload of the node after payload's (towards the tail), or null at the end.
void* ListNext(void* payload);
// Payload of the node before payload's (towards the head), or null at the head.
void* ListPrevious(void* payload);
