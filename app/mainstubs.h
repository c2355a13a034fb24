// Stand-ins for pieces that other units supply (the database layer and the proximity
// senders). Each is as small as the main window needs and goes away when
// the real piece is wired in.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace tavlin {

class TDatabaseStub {
public:
    QString DatabaseName;
    QStringList Params;
    bool Connected() const { return connected_; }
    // An embedded database is a plain file; the stand-in connects when it exists.
    void Open();
    void Close() { connected_ = false; }

private:
    bool connected_ = false;
};

class TTransactionStub {
public:
    bool InTransaction() const { return active_; }
    void StartTransaction() { active_ = true; }
    void Commit() { active_ = false; }
    void CommitRetaining() {}
    void RollbackRetaining() {}

private:
    bool active_ = false;
};

class TSenderStub {
public:
    explicit TSenderStub(int tag) : tag_(tag) {}
    std::function<void(TSenderStub*)> OnStopped;
    int Tag() const { return tag_; }
    bool Active() const { return active_; }
    void Start() { active_ = true; }
    void Stop() { if (!active_) return; active_ = false; if (OnStopped) OnStopped(this); }

private:
    int tag_;
    bool active_ = false;
};

} // namespace tavlin
