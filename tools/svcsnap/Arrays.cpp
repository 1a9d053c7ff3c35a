#include "Arrays.h"

#include <ctime>

namespace svcsnap {

namespace {

const char* kColumns = "id, array_id, address, port, https, user, password, name, added_at";

ArrayEntry rowOf(const Statement& q) {
    ArrayEntry a;
    a.id = q.integer(0);
    a.arrayId = q.text(1);
    a.address = q.text(2);
    a.port = int(q.integer(3));
    a.https = q.integer(4) != 0;
    a.user = q.text(5);
    a.password = q.text(6);
    a.name = q.text(7);
    a.addedAt = q.integer(8);
    return a;
}

}  // namespace

bool Arrays::put(const ArrayEntry& entry) {
    Transaction tx(db_);
    bool existed = find(entry.arrayId).has_value();
    Statement q(db_,
                "INSERT INTO arrays (array_id, address, port, https, user, password, name, added_at) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) "
                "ON CONFLICT (array_id) DO UPDATE SET address = ?2, port = ?3, https = ?4, user = ?5, "
                "password = ?6, name = ?7");
    q.bind(1, entry.arrayId).bind(2, entry.address).bind(3, entry.port).bind(4, entry.https ? 1 : 0);
    q.bind(5, entry.user).bind(6, entry.password).bind(7, entry.name).bind(8, int64_t(std::time(nullptr)));
    q.run();
    tx.commit();
    return !existed;
}

std::vector<ArrayEntry> Arrays::list() {
    Statement q(db_, std::string("SELECT ") + kColumns + " FROM arrays ORDER BY array_id");
    std::vector<ArrayEntry> out;
    while (q.step()) out.push_back(rowOf(q));
    return out;
}

std::optional<ArrayEntry> Arrays::find(const std::string& arrayId) {
    Statement q(db_, std::string("SELECT ") + kColumns + " FROM arrays WHERE array_id = ?1 COLLATE NOCASE");
    q.bind(1, arrayId);
    if (!q.step()) return std::nullopt;
    return rowOf(q);
}

bool Arrays::remove(const std::string& arrayId) {
    Transaction tx(db_);
    Statement q(db_, "DELETE FROM arrays WHERE array_id = ?1 COLLATE NOCASE");
    q.bind(1, arrayId).run();
    bool removed = db_.changes() > 0;
    tx.commit();
    return removed;
}

std::string arrayInfoText(const ArrayEntry& array, int engineId) {
    return "{arrayId:" + array.arrayId + ",hostName:" + array.address + ",hostUserName:" + array.user +
           ",hostPassword:" + array.password + ",engineId:" + std::to_string(engineId) + "}";
}

}  // namespace svcsnap
