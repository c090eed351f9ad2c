// Linux-side loopback for the Windows serial port checks under Wine: a
// pseudo-terminal that sends back every byte it receives. Prints the slave
// path on its first line, links it at LINK when given, and runs until killed.
//   ptyloop [LINK]
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    {
        perror("ptyloop: pseudo-terminal");
        return 1;
    }
    const char* slavePath = ptsname(master);
    // Held open so the master never sees a hang-up between two clients.
    int slave = open(slavePath, O_RDWR | O_NOCTTY);
    if (slave < 0)
    {
        perror("ptyloop: slave");
        return 1;
    }
    struct termios raw;
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    if (argc > 1)
    {
        unlink(argv[1]);
        if (symlink(slavePath, argv[1]) != 0)
        {
            perror("ptyloop: link");
            return 1;
        }
    }
    printf("%s\n", slavePath);
    fflush(stdout);

    unsigned char buffer[4096];
    for (;;)
    {
        struct pollfd pfd = {master, POLLIN, 0};
        if (poll(&pfd, 1, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return 1;
        }
        ssize_t got = read(master, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 1;
        ssize_t sent = 0;
        while (sent < got)
        {
            ssize_t n = write(master, buffer + sent, static_cast<size_t>(got - sent));
            if (n <= 0)
                break;
            sent += n;
        }
    }
}
