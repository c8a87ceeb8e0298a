#include "runtime/connection_table.h"

#include <unistd.h>

#include <new>
#include <unordered_map>
#include <utility>

namespace {

struct ConnectionTable {
    std::mutex lock;
    std::unordered_map<ConnectionNumber, std::shared_ptr<Connection>> connections;
    ConnectionNumber lastNumber = 0;
};

// Never destroyed: a detached worker may still close its connection while the process exits.
ConnectionTable& Table() {
    static ConnectionTable* table = new ConnectionTable;
    return *table;
}

}  // namespace

Connection::~Connection() {
    if (socket >= 0) close(socket);
}

ConnectionNumber ConnectionTableAdd(std::unique_ptr<Connection> connection) {
    if (connection == nullptr) return 0;
    ConnectionTable& table = Table();
    try {
        std::shared_ptr<Connection> shared(std::move(connection));
        std::lock_guard<std::mutex> guard(table.lock);
        // Numbers only grow, so a closed connection's number never names a later one.
        const ConnectionNumber number = table.lastNumber + 1;
        table.connections.emplace(number, std::move(shared));
        table.lastNumber = number;
        return number;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

std::shared_ptr<Connection> ConnectionTableFind(ConnectionNumber number) {
    ConnectionTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.connections.find(number);
    if (found == table.connections.end()) return nullptr;
    return found->second;
}

std::shared_ptr<Connection> ConnectionTableRemove(ConnectionNumber number) {
    ConnectionTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.connections.find(number);
    if (found == table.connections.end()) return nullptr;
    std::shared_ptr<Connection> removed = std::move(found->second);
    table.connections.erase(found);
    return removed;
}
