// One running copy of each program. The first process of a program holds a lock for its whole life
// and answers on a per-user local socket; a second process asks it to bring its window back and ends
// with exit code 0 before it shows anything.
#pragma once
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace zn::foundation {

class TPreviousInstance {
public:
    // Module initialisation, before any form exists: the lock is named after the program file
    // ("ZN.EXE", "ZNPTF.EXE"), so the two programs run side by side.
    static void OneInstanceInitialization(const std::string& programPath);
    static TPreviousInstance& Get(); // initialised before use

    // The title of the first instance's window: the file name less ".EXE" when it has that ending in
    // upper case ("ZN.EXE" gives "ZN"), else empty.
    static std::string SetTitleFromFileName(const std::string& fileName);
    const std::string& GetTitle() const { return title_; }
    bool IsSecondInstance() const { return secondInstance_; }

    // First instance: the window that a second start brings back (none: it is left alone).
    void SetInstanceWindow(QWidget* window);
    // Tests see each request that the first instance has acted on.
    void SetRestoreObserver(std::function<void()> observer);

    // Second instance: asks the first to restore its window; true when it answered.
    bool AskFirstInstanceToRestore() const;
    // Another program's first instance (named by its program file, "ZN.EXE"): asks it to restore its
    // window. True when it answered.
    static bool AskProgramToRestore(const std::string& programFile);
    // First instance: starts answering requests (on the GUI thread; needs the application object).
    void Listen();

    ~TPreviousInstance();
    TPreviousInstance(const TPreviousInstance&) = delete;
    TPreviousInstance& operator=(const TPreviousInstance&) = delete;

private:
    TPreviousInstance() = default;
    void CheckMutex(const std::string& programPath);
    void Answer(int connection);
    void RestoreWindow();

    struct Listener;
    std::string title_;
    std::string lockPath_;
    std::string socketPath_;
    int lockFd_ = -1;
    bool secondInstance_ = false;
    std::unique_ptr<Listener> listener_;
    std::function<void()> restoreObserver_;
};

// Placed on a program's main window (or created without owner at program start): in a second
// instance its construction restores the first instance's window and ends the process with exit
// code 0; in the first it makes the owner's window the one to bring back.
class TOneInstance : public QObject {
public:
    explicit TOneInstance(QWidget* owner = nullptr);
    QString About; // stored, no effect
};

} // namespace zn::foundation
