#include "qtlockedfile.h"
// stub, replaced by the real implementation
namespace QtLP_Private {
QtLockedFile::QtLockedFile() = default;
QtLockedFile::QtLockedFile(const QString &name) : QFile(name) {}
QtLockedFile::~QtLockedFile() = default;
bool QtLockedFile::open(OpenMode mode) { return QFile::open(mode); }
bool QtLockedFile::lock(LockKind, bool) { return true; }
bool QtLockedFile::unlock() { return true; }
bool QtLockedFile::hasLock() const { return m_lockKind != Unlocked; }
QtLockedFile::LockKind QtLockedFile::currentLock() const { return LockKind(m_lockKind); }
}
