// Stand-ins for pieces that other units supply (the database layer, the library's API
// object and the proximity senders). Each is as small as the main window needs and goes away when
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

// Stack kinds as bits of the API object's BluetoothApis set.
class TApiStub {
public:
    std::function<void(TApiStub*)> AfterLoad, OnChanged;
    unsigned BluetoothApis() const { return loaded_ ? apis_ : 0u; }
    void SetPresentApis(unsigned apis) { apis_ = apis; if (loaded_ && OnChanged) OnChanged(this); }
    bool Loaded() const { return loaded_; }
    void Load() { loaded_ = true; if (AfterLoad) AfterLoad(this); }
    void Unload() { loaded_ = false; }

private:
    bool loaded_ = false;
    unsigned apis_ = 0;
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
