#pragma once
// For tests of files that belong to someone else, or of limits a test must
// not put on itself: runs a function in a forked child, as the unprivileged
// user "nobody" when asked (which only root can do), and gives back its
// result and its stderr.  Header only; the tests run as root.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

namespace testing_support {

struct ChildRun {
    // Empty when the child ran; otherwise why it could not, for a skip.
    std::string problem;
    // The function's result (its exit status): 0 means every check held.
    int status = -1;
    // What the child wrote on stderr.
    std::string err;
};

inline bool NobodyIds(uid_t& uid, gid_t& gid) {
    const passwd* pw = ::getpwnam("nobody");
    if (!pw || pw->pw_uid == 0)
        return false;
    uid = pw->pw_uid;
    gid = pw->pw_gid;
    return true;
}

// Gives `path` and everything below it to nobody.
inline bool GiveToNobody(const std::filesystem::path& path) {
    uid_t uid;
    gid_t gid;
    if (!NobodyIds(uid, gid) || ::lchown(path.c_str(), uid, gid) != 0)
        return false;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        for (const auto& e : std::filesystem::recursive_directory_iterator(path, ec))
            if (::lchown(e.path().c_str(), uid, gid) != 0)
                return false;
    return true;
}

// Runs fn in a forked child (as nobody when asked) and waits for it.
inline ChildRun RunInChild(const std::function<int()>& fn, bool asNobody = false) {
    ChildRun run;
    uid_t uid = 0;
    gid_t gid = 0;
    if (asNobody && (::geteuid() != 0 || !NobodyIds(uid, gid))) {
        run.problem = "acting as another user needs root and the user nobody";
        return run;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.problem = "no pipe";
        return run;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 2);
        if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(125);
        ::_exit(fn());
    }
    ::close(pipeFds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            run.err.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        run.problem = "no child";
        return run;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 125) {
        run.problem = "the child could not become nobody";
        return run;
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

inline ChildRun RunAsNobody(const std::function<int()>& fn) {
    return RunInChild(fn, true);
}

}  // namespace testing_support
