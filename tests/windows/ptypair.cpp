// Linux-side null-modem cable for the Windows serial port checks under Wine:
// two pseudo-terminals, each passing what it receives to the other. Prints
// both slave paths on its first line, links them at LINK_A and LINK_B, and
// runs until killed.
//   ptypair LINK_A LINK_B
#include <errno.h>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace
{

struct End
{
    int master;
    int slave;  // held open so the master never sees a hang-up between clients
};

bool open_end(const char* link, End& end)
{
    end.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (end.master < 0 || grantpt(end.master) != 0 || unlockpt(end.master) != 0)
    {
        perror("ptypair: pseudo-terminal");
        return false;
    }
    const char* path = ptsname(end.master);
    end.slave = open(path, O_RDWR | O_NOCTTY);
    if (end.slave < 0)
    {
        perror("ptypair: slave");
        return false;
    }
    struct termios raw;
    for (int fd : {end.master, end.slave})
    {
        tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    unlink(link);
    if (symlink(path, link) != 0)
    {
        perror("ptypair: link");
        return false;
    }
    printf("%s ", path);
    return true;
}

// Moves what one master has to the other; false when the link is broken.
bool pass(int from, int to)
{
    unsigned char buffer[4096];
    ssize_t got = read(from, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0)
        return false;
    ssize_t sent = 0;
    while (sent < got)
    {
        ssize_t n = write(to, buffer + sent, static_cast<size_t>(got - sent));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: ptypair LINK_A LINK_B\n");
        return 2;
    }
    End a, b;
    if (!open_end(argv[1], a) || !open_end(argv[2], b))
        return 1;
    printf("\n");
    fflush(stdout);

    for (;;)
    {
        struct pollfd fds[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if ((fds[0].revents & POLLIN) && !pass(a.master, b.master))
            return 1;
        if ((fds[1].revents & POLLIN) && !pass(b.master, a.master))
            return 1;
        if ((fds[0].revents | fds[1].revents) & (POLLHUP | POLLERR | POLLNVAL))
            return 1;
    }
}
