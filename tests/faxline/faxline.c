/*
 * faxline: a telephone line with Class 1 fax modems on pseudo-terminals.
 *
 *   faxline pair [options] [LINK_A LINK_B]
 *       Two T.31 modems, A and B, back to back: dialling on one rings the other.
 *   faxline answer [options] --rx-file OUT.tif [LINK_A]
 *       Modem A; any number it dials reaches a T.30 fax terminal that answers and
 *       writes what it receives to OUT.tif.
 *   faxline call [options] --tx-file IN.tif [LINK_A]
 *       Modem A; a T.30 fax terminal rings it once its program is idle and sends IN.tif.
 *
 * The line is a stream of 8000 samples a second passed between the two ends in
 * 20 ms ticks. The modems and the terminal keep time only by these samples, so
 * the line may run faster than real time whenever no program owes its modem
 * anything (--fast). See README.md for the full description.
 */
#define _GNU_SOURCE
#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <inttypes.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <tiffio.h>
#include <spandsp.h>

#define SAMPLE_RATE 8000
#define TICK_SAMPLES 160
#define TICK_NS 20000000LL
#define SECONDS(s) ((int64_t) ((s) * SAMPLE_RATE))
#define OUT_QUEUE_LEN 65536
#define MAX_NUMBERS 16
#define DLE 0x10
#define ETX 0x03

enum end_kind { END_PORT, END_TERMINAL };

enum call_state
{
    CALL_IDLE,
    CALL_DIALLING,   /* caller waits for a result that needs no callee (BUSY, NO DIALTONE) */
    CALL_RINGING,
    CALL_CONNECTING, /* answered: both ends are told at the next step */
    CALL_CONNECTED,
    CALL_CLEARING    /* one end hung up: the other is told after a short delay */
};

typedef struct
{
    char name;                 /* 'A' or 'B' */
    int master;
    char slave[64];
    const char *link;
    t31_state_t *t31;
    int dteOpen;               /* a program holds the slave side open */
    int cts;                   /* the modem accepts more bytes from the program */
    int awaitingAnswer;        /* ATA given while nothing rang */
    int64_t answerDeadline;
    int commandsSeen;          /* bytes received since the port was opened */
    int64_t lastInput;         /* line time of the last byte from the program */
    int dataOwed;              /* the modem said CONNECT and the program has not ended with DLE ETX */
    int deferredEvent;         /* a call event for the modem outside its own call-backs; 0 = none */
    int dleSeen;
    int dtrLow;                /* the program holds DTR low (the line's speed is B0) */
    int dtrAction;             /* what DTR going low does, as &D set it: 0 and 1 nothing, 2 hang up,
                                  3 hang up and reset the modem */
    char command[128];         /* the command line being typed, for &D */
    size_t commandLen;
    uint8_t out[OUT_QUEUE_LEN];
    size_t outLen;
} port_t;

typedef struct
{
    fax_state_t *fax;
    int finished;
    int completion;
    int pagesTx;
    int pagesRx;
    int bitRate;
    char remote[64];
} terminal_t;

typedef struct
{
    enum end_kind kind;
    port_t *port;
} end_t;

static struct
{
    int fast;
    int trace;
    int logLevel;
    int calls;              /* stop after this many calls; 0 = never */
    int64_t callDelay;      /* terminal calling in: idle time of the program first */
    int64_t ringTimeout;
    const char *busy[MAX_NUMBERS];
    int nBusy;
    const char *noAnswer[MAX_NUMBERS];
    int nNoAnswer;
    const char *noDialtone[MAX_NUMBERS];
    int nNoDialtone;
    const char *rxFile;
    const char *txFile;
    const char *ident;
    int modems;
    int ecm;
    int maxRate;            /* fast-modem signals above this bit rate arrive as noise; 0 = none */
    int64_t hangupAt;       /* the line drops this long after the call connects; 0 = never */
    int hangupCalls;        /* only the first this many calls drop; 0 = every call */
    int noise;              /* peak amplitude of the noise for --max-rate */
    struct { int transmission, andLater, frames; int64_t at, length; } bursts[MAX_NUMBERS];
    int nBursts;            /* --burst, --frame-burst: noise over part of chosen transmissions */
    int burstNoise;         /* peak amplitude of that noise */
    int speed;              /* --fast runs at most this many times real time; 0 = no limit */
    const char *callerNumber;  /* the caller ID a rung modem reports with its first RING; NULL = none */
    const char *callerName;
} opt;

static port_t ports[2];
static int nPorts;
static end_t ends[2];
static terminal_t term;
static int terminalMode;    /* 0 none, 'a' answer, 'c' call */

static struct
{
    enum call_state state;
    int caller;             /* index into ends */
    int callee;             /* -1: nobody (a number that never answers) */
    int clearer;            /* the end that hung up; -1: the line itself dropped */
    int64_t connectedAt;    /* line time the call connected; -1: it never did */
    int64_t startedAt;      /* line time and wall time of the dialling */
    int64_t startedWall;
    int result;             /* AT_CALL_EVENT_* for CALL_DIALLING */
    int64_t nextEvent;
} call = { CALL_IDLE, -1, -1, -1, 0, 0, -1, 0, 0 };

static int64_t now;         /* line time in samples */
static int lineActive;      /* the last tick carried a signal one way or the other */

/* The line's one-way delay: each direction is a ring of delayed samples. */
static struct
{
    int16_t *ring[2];
    int len;
    int pos;
} delay;
static int callsDone;
static int64_t lastCallOver = -1;  /* line time the last wanted call ended */
static int callsFailed;
static volatile sig_atomic_t stopRequested;

static int64_t wallStart;

static int64_t MonotonicNs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t) ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void Trace(const char *fmt, ...)
{
    va_list ap;
    if (!opt.trace)
        return;
    fprintf(stderr, "%8.3f %8.3f ", (double) now / SAMPLE_RATE, (double) (MonotonicNs() - wallStart) / 1e9);
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
}

/* Shows what passes between a program and its modem: text as text, data as a count. */
static void TraceBytes(char who, const char *dir, const uint8_t *buf, size_t len)
{
    char text[256];
    size_t i, n = 0;
    int printable = 1;
    if (!opt.trace)
        return;
    for (i = 0; i < len; i++)
        if (!(buf[i] >= 0x20 && buf[i] < 0x7f) && buf[i] != '\r' && buf[i] != '\n')
            printable = 0;
    if (!printable || len > 120)
    {
        Trace("%c %s [%zu bytes data%s]", who, dir, len,
              len >= 2 && buf[len - 2] == DLE && buf[len - 1] == ETX ? ", DLE ETX" : "");
        return;
    }
    for (i = 0; i < len && n < sizeof(text) - 4; i++)
    {
        if (buf[i] == '\r')
            n += (size_t) snprintf(text + n, sizeof(text) - n, "\\r");
        else if (buf[i] == '\n')
            n += (size_t) snprintf(text + n, sizeof(text) - n, "\\n");
        else
            text[n++] = (char) buf[i];
    }
    text[n] = '\0';
    Trace("%c %s %s", who, dir, text);
}

static int Listed(const char **list, int n, const char *number)
{
    for (int i = 0; i < n; i++)
        if (strcmp(list[i], "*") == 0 || strcmp(list[i], number) == 0)
            return 1;
    return 0;
}

/* ---- ports ---------------------------------------------------------------- */

static void FlushOut(port_t *p)
{
    while (p->outLen > 0)
    {
        ssize_t n = write(p->master, p->out, p->outLen);
        if (n <= 0)
            return;
        memmove(p->out, p->out + n, p->outLen - (size_t) n);
        p->outLen -= (size_t) n;
    }
}

static int AtTx(at_state_t *s, void *user, const uint8_t *buf, size_t len)
{
    port_t *p = user;
    (void) s;
    TraceBytes(p->name, ">", buf, len);
    if (memmem(buf, len, "CONNECT", 7) != NULL)
    {
        p->dataOwed = 1;
        p->dleSeen = 0;
    }
    if (!p->dteOpen)
        return (int) len;
    if (len > sizeof(p->out) - p->outLen)
    {
        fprintf(stderr, "faxline: port %c: program reads too slowly, %zu bytes lost\n", p->name, len);
        return (int) len;
    }
    memcpy(p->out + p->outLen, buf, len);
    p->outLen += len;
    FlushOut(p);
    return (int) len;
}

static int EndOfPort(const port_t *p)
{
    for (int i = 0; i < 2; i++)
        if (ends[i].kind == END_PORT && ends[i].port == p)
            return i;
    return -1;
}

static void StartCall(int caller, const char *number);
static void CallOver(void);
static void Hangup(int end);
static void Answer(int end);

static int ModemControl(t31_state_t *s, void *user, int op, const char *num)
{
    port_t *p = user;
    int e = EndOfPort(p);
    (void) s;
    switch (op)
    {
    case AT_MODEM_CONTROL_CALL:
        Trace("%c dials \"%s\"", p->name, num ? num : "");
        StartCall(e, num ? num : "");
        break;
    case AT_MODEM_CONTROL_ANSWER:
        Answer(e);
        break;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
        p->awaitingAnswer = 0;
        Hangup(e);
        break;
    case AT_MODEM_CONTROL_CTS:
        p->cts = num != NULL;
        break;
    default:
        break;
    }
    return 0;
}

static void ModemInit(port_t *p)
{
    p->t31 = t31_init(NULL, AtTx, p, ModemControl, p, NULL, NULL);
    if (p->t31 == NULL)
    {
        fprintf(stderr, "faxline: cannot create a T.31 modem\n");
        exit(2);
    }
    t31_set_transmit_on_idle(p->t31, 1);
    if (opt.logLevel)
    {
        logging_state_t *log = t31_get_logging_state(p->t31);
        char tag[8];
        snprintf(tag, sizeof(tag), "T31-%c", p->name);
        span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_TAG | SPAN_LOG_SHOW_SAMPLE_TIME | opt.logLevel);
        span_log_set_tag(log, tag);
    }
    p->cts = 1;
    p->deferredEvent = 0;
    p->awaitingAnswer = 0;
    p->commandsSeen = 0;
}

static void PortOpen(port_t *p, char name, const char *link)
{
    struct termios tio;
    int slave;
    p->name = name;
    p->link = link;
    p->master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (p->master < 0 || grantpt(p->master) < 0 || unlockpt(p->master) < 0
        || ptsname_r(p->master, p->slave, sizeof(p->slave)) != 0)
    {
        perror("faxline: pseudo-terminal");
        exit(2);
    }
    /* Raw from the start, so that a program that does not set its own modes gets bytes as sent.
       Opening and closing the slave once also makes the master report the slave closed. */
    slave = open(p->slave, O_RDWR | O_NOCTTY);
    if (slave < 0 || tcgetattr(slave, &tio) < 0)
    {
        perror("faxline: pseudo-terminal slave");
        exit(2);
    }
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    close(slave);
    if (link)
    {
        unlink(link);
        if (symlink(p->slave, link) < 0)
        {
            fprintf(stderr, "faxline: cannot link %s: %s\n", link, strerror(errno));
            exit(2);
        }
    }
    ModemInit(p);
    p->dtrAction = 2;
}

/* Drops what the program sent and the modem has not read yet, and what the modem said and the
   program has not read. */
static void PortDiscard(port_t *p)
{
    uint8_t junk[4096];
    p->outLen = 0;
    while (read(p->master, junk, sizeof(junk)) > 0)
        ;
    tcflush(p->master, TCIOFLUSH);
    p->dataOwed = 0;
    p->dleSeen = 0;
    p->commandLen = 0;
}

/* A pseudo-terminal has no modem lines: a program closing the port is the hang-up and reset. */
static void PortClosed(port_t *p)
{
    Trace("%c port closed", p->name);
    p->dteOpen = 0;
    PortDiscard(p);
    Hangup(EndOfPort(p));
    t31_free(p->t31);
    ModemInit(p);
    p->dtrAction = 2;
}

/* DTR is the line's speed: a program drops it as POSIX hangs up a line, by setting the speed B0
   (the master reads the slave's settings), and raises it by setting a speed again. */
static void PortCheckDtr(port_t *p)
{
    struct termios tio;
    int low;
    if (tcgetattr(p->master, &tio) < 0)
        return;
    low = (tio.c_cflag & CBAUD) == B0;
    if (low && !p->dtrLow)
    {
        Trace("%c DTR dropped (&D%d)", p->name, p->dtrAction);
        if (p->dtrAction >= 2)
        {
            PortDiscard(p);
            Hangup(EndOfPort(p));
            if (p->dtrAction == 3)
            {
                t31_free(p->t31);
                ModemInit(p);
            }
            else
                t31_call_event(p->t31, AT_CALL_EVENT_HANGUP);
        }
    }
    else if (!low && p->dtrLow)
        Trace("%c DTR raised", p->name);
    p->dtrLow = low;
}

/* Follows the program's command lines for what they set DTR to do: &Dn (no digit is 0), and &F,
   the factory setting, which is &D2. */
static void PortCommandByte(port_t *p, uint8_t c)
{
    if (c != '\r')
    {
        if (p->commandLen < sizeof(p->command))
            p->command[p->commandLen++] = (char) c;
        return;
    }
    for (size_t i = 0; i + 1 < p->commandLen; i++)
    {
        char what = p->command[i + 1] & ~0x20;
        if (p->command[i] != '&')
            continue;
        if (what == 'F')
            p->dtrAction = 2;
        else if (what == 'D')
            p->dtrAction = i + 2 < p->commandLen && p->command[i + 2] >= '0' && p->command[i + 2] <= '3'
                               ? p->command[i + 2] - '0'
                               : 0;
    }
    p->commandLen = 0;
}

static void PortCheckOpen(port_t *p)
{
    struct pollfd pfd = { p->master, POLLIN, 0 };
    int open;
    if (poll(&pfd, 1, 0) < 0)
        return;
    open = !(pfd.revents & POLLHUP);
    if (open && !p->dteOpen)
    {
        struct termios tio;
        Trace("%c port opened", p->name);
        p->dteOpen = 1;
        p->lastInput = now;
        p->dtrLow = tcgetattr(p->master, &tio) == 0 && (tio.c_cflag & CBAUD) == B0;
    }
    else if (!open && p->dteOpen)
        PortClosed(p);
}

static void PortRead(port_t *p)
{
    uint8_t buf[256];
    while (p->dteOpen && p->cts)
    {
        ssize_t n = read(p->master, buf, sizeof(buf));
        if (n <= 0)
        {
            if (n < 0 && errno == EIO)
                PortClosed(p);
            return;
        }
        TraceBytes(p->name, "<", buf, (size_t) n);
        p->lastInput = now;
        for (ssize_t i = 0; i < n; i++)
        {
            if (p->t31->at_state.at_rx_mode == AT_MODE_ONHOOK_COMMAND
                || p->t31->at_state.at_rx_mode == AT_MODE_OFFHOOK_COMMAND)
                PortCommandByte(p, buf[i]);
            if (p->dleSeen && buf[i] == ETX)
                p->dataOwed = 0;
            p->dleSeen = !p->dleSeen && buf[i] == DLE;
        }
        p->commandsSeen = 1;
        t31_at_rx(p->t31, (const char *) buf, (int) n);
    }
}

/* Whether the program on this port owes its modem something: a command after a result, a
   frame or page data the modem is waiting for, or reading what the modem has said. While any
   program owes, the line runs in real time. */
static int PortOwes(const port_t *p)
{
    const t31_state_t *t = p->t31;
    int fill;
    if (!p->dteOpen)
        return 0;
    if (p->outLen > 0)
        return 1;
    switch (t->at_state.at_rx_mode)
    {
    case AT_MODE_ONHOOK_COMMAND:
    case AT_MODE_OFFHOOK_COMMAND:
        if (p->awaitingAnswer)
            return 0;
        if ((call.state == CALL_DIALLING || call.state == CALL_RINGING) && ends[call.caller].port == p)
            return 0;
        return 1;
    case AT_MODE_HDLC:
        return p->dataOwed;
    case AT_MODE_STUFFED:
        fill = (t->tx.in_bytes - t->tx.out_bytes + T31_TX_BUF_LEN) % T31_TX_BUF_LEN;
        return p->dataOwed && p->cts && fill < T31_TX_BUF_LOW_TIDE;
    default:
        return 0;
    }
}

/* ---- the fax terminal ------------------------------------------------------ */

static void PhaseE(t30_state_t *s, void *user, int completion)
{
    t30_stats_t st;
    const char *remote = t30_get_rx_ident(s);
    (void) user;
    t30_get_transfer_statistics(s, &st);
    term.finished = 1;
    term.completion = completion;
    term.pagesTx = st.pages_tx;
    term.pagesRx = st.pages_rx;
    term.bitRate = st.bit_rate;
    snprintf(term.remote, sizeof(term.remote), "%s", remote ? remote : "");
    Trace("terminal: phase E, %s", t30_completion_code_to_str(completion));
}

static void TerminalStart(int callingParty)
{
    t30_state_t *t30;
    memset(&term, 0, sizeof(term));
    term.fax = fax_init(NULL, callingParty);
    fax_set_transmit_on_idle(term.fax, 1);
    t30 = fax_get_t30_state(term.fax);
    t30_set_tx_ident(t30, opt.ident);
    t30_set_supported_modems(t30, opt.modems);
    t30_set_ecm_capability(t30, opt.ecm);
    t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION
                                        | (opt.ecm ? T30_SUPPORT_T6_COMPRESSION : 0));
    t30_set_supported_resolutions(t30, T30_SUPPORT_STANDARD_RESOLUTION | T30_SUPPORT_FINE_RESOLUTION
                                       | T30_SUPPORT_SUPERFINE_RESOLUTION | T30_SUPPORT_R8_RESOLUTION
                                       | T30_SUPPORT_R16_RESOLUTION);
    t30_set_supported_image_sizes(t30, T30_SUPPORT_215MM_WIDTH | T30_SUPPORT_255MM_WIDTH
                                       | T30_SUPPORT_303MM_WIDTH | T30_SUPPORT_UNLIMITED_LENGTH
                                       | T30_SUPPORT_A4_LENGTH | T30_SUPPORT_B4_LENGTH
                                       | T30_SUPPORT_US_LETTER_LENGTH | T30_SUPPORT_US_LEGAL_LENGTH);
    if (opt.rxFile)
        t30_set_rx_file(t30, opt.rxFile, -1);
    if (opt.txFile)
        t30_set_tx_file(t30, opt.txFile, -1, -1);
    t30_set_phase_e_handler(t30, PhaseE, NULL);
    if (opt.logLevel)
    {
        logging_state_t *log = t30_get_logging_state(t30);
        span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_TAG | SPAN_LOG_SHOW_SAMPLE_TIME | opt.logLevel);
        span_log_set_tag(log, "T30");
        log = fax_get_logging_state(term.fax);
        span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_TAG | SPAN_LOG_SHOW_SAMPLE_TIME | opt.logLevel);
        span_log_set_tag(log, "FAX");
    }
}

static void TerminalStop(void)
{
    if (term.fax == NULL)
        return;
    if (!term.finished)
    {
        t30_terminate(fax_get_t30_state(term.fax));
        if (!term.finished)
        {
            term.finished = 1;
            term.completion = T30_ERR_CALLDROPPED;
        }
    }
    fax_free(term.fax);
    term.fax = NULL;
    printf("RESULT %d %s pages_tx=%d pages_rx=%d rate=%d remote=\"%s\"\n", term.completion,
           t30_completion_code_to_str(term.completion), term.pagesTx, term.pagesRx, term.bitRate,
           term.remote);
    fflush(stdout);
    if (term.completion != T30_ERR_OK)
        callsFailed++;
}

/* ---- the call ------------------------------------------------------------- */

/* Every call attempt ends here, connected or not. */
static void CallOver(void)
{
    if (term.fax)
        TerminalStop();
    else if (terminalMode == 'c' && call.caller >= 0 && ends[call.caller].kind == END_TERMINAL)
    {
        printf("RESULT -1 call not answered\n");
        fflush(stdout);
        callsFailed++;
    }
    call.state = CALL_IDLE;
    callsDone++;
    Trace("call %d over", callsDone);
    printf("CALL %d %s line=%.3f wall=%.3f\n", callsDone, call.connectedAt >= 0 ? "connected" : "unconnected",
           (double) (now - call.startedAt) / SAMPLE_RATE, (double) (MonotonicNs() - call.startedWall) / 1e9);
    fflush(stdout);
    if (opt.calls > 0 && callsDone >= opt.calls)
        lastCallOver = now;
}

static void EndEvent(int e, int event)
{
    if (ends[e].kind == END_PORT)
        t31_call_event(ends[e].port->t31, event);
}

static void StartCall(int caller, const char *number)
{
    int callee = 1 - caller;
    if (call.state != CALL_IDLE)
    {
        /* The line is in use (or rings for this very port: glare): BUSY, once the modem's command
           has returned. */
        if (call.caller != caller && ends[caller].kind == END_PORT)
            ends[caller].port->deferredEvent = AT_CALL_EVENT_BUSY;
        return;
    }
    call.caller = caller;
    call.callee = -1;
    call.clearer = -1;
    call.connectedAt = -1;
    call.startedAt = now;
    call.startedWall = MonotonicNs();
    if (Listed(opt.noDialtone, opt.nNoDialtone, number))
    {
        call.state = CALL_DIALLING;
        call.result = AT_CALL_EVENT_NO_DIALTONE;
        call.nextEvent = now + SECONDS(0.5);
        return;
    }
    if (Listed(opt.busy, opt.nBusy, number) || (ends[callee].kind == END_PORT && ends[callee].port->awaitingAnswer == 0
                                                 && ends[callee].port->t31->at_state.at_rx_mode != AT_MODE_ONHOOK_COMMAND))
    {
        call.state = CALL_DIALLING;
        call.result = AT_CALL_EVENT_BUSY;
        call.nextEvent = now + SECONDS(2);
        return;
    }
    call.state = CALL_RINGING;
    call.result = AT_CALL_EVENT_NO_ANSWER;
    call.nextEvent = now;
    if (!Listed(opt.noAnswer, opt.nNoAnswer, number))
        call.callee = callee;
    if (ends[callee].kind == END_PORT)
    {
        /* The exchange's caller ID, which the modem shows after the first RING once its program
           asked for it with AT+VCID=1. */
        at_state_t *at = &ends[callee].port->t31->at_state;
        at_reset_call_info(at);
        if (opt.callerNumber)
            at_set_call_info(at, "NMBR", opt.callerNumber);
        if (opt.callerName)
            at_set_call_info(at, "NAME", opt.callerName);
    }
}

static void Answer(int e)
{
    if (call.state == CALL_RINGING && call.callee == e)
    {
        call.state = CALL_CONNECTING;
        call.nextEvent = now;
        return;
    }
    if (ends[e].kind == END_PORT)
    {
        /* Off hook before the call arrives: the next call to this port connects at once. */
        ends[e].port->awaitingAnswer = 1;
        ends[e].port->answerDeadline = now + SECONDS(60);
    }
}

static void Hangup(int e)
{
    if (e < 0 || call.state == CALL_IDLE || call.state == CALL_CLEARING)
        return;
    if (e != call.caller && e != call.callee)
        return;
    Trace("%c hangs up", ends[e].kind == END_PORT ? ends[e].port->name : 'T');
    if (call.state == CALL_CONNECTED)
    {
        call.state = CALL_CLEARING;
        call.clearer = e;
        call.nextEvent = now + SECONDS(0.5);
    }
    else
        CallOver();
}


/* Advances the call by whatever is due at the present line time. */
static void CallStep(void)
{
    int e;
    for (e = 0; e < 2; e++)
    {
        port_t *p = ends[e].kind == END_PORT ? ends[e].port : NULL;
        if (p && p->awaitingAnswer && call.state == CALL_IDLE && now >= p->answerDeadline)
        {
            p->awaitingAnswer = 0;
            t31_call_event(p->t31, AT_CALL_EVENT_HANGUP);
        }
        if (p && p->deferredEvent)
        {
            int event = p->deferredEvent;
            p->deferredEvent = 0;
            t31_call_event(p->t31, event);
        }
    }
    if (call.state == CALL_IDLE || now < call.nextEvent)
        return;
    switch (call.state)
    {
    case CALL_DIALLING:
        EndEvent(call.caller, call.result);
        CallOver();
        break;
    case CALL_RINGING:
        if (call.callee >= 0 && ends[call.callee].kind == END_PORT && ends[call.callee].port->awaitingAnswer)
        {
            ends[call.callee].port->awaitingAnswer = 0;
            call.state = CALL_CONNECTING;
            break;
        }
        if (call.callee >= 0)
        {
            if (ends[call.callee].kind == END_PORT)
                EndEvent(call.callee, AT_CALL_EVENT_ALERTING);
            else
                Answer(call.callee);   /* the fax terminal answers on the first ring */
        }
        call.nextEvent = now + SECONDS(6);
        break;
    default:
        break;
    }
}

static int64_t ringStarted;

static void CallAdvance(void)
{
    enum call_state before = call.state;
    CallStep();
    if (before != CALL_RINGING && call.state == CALL_RINGING)
        ringStarted = now;
    if (call.state == CALL_RINGING && now - ringStarted >= opt.ringTimeout)
    {
        EndEvent(call.caller, AT_CALL_EVENT_NO_ANSWER);
        CallOver();
        return;
    }
    if (call.state == CALL_CONNECTING)
    {
        Trace("call connected");
        call.state = CALL_CONNECTED;
        call.connectedAt = now;
        for (int e = 0; e < 2; e++)
        {
            if (ends[e].kind == END_TERMINAL)
                TerminalStart(e == call.caller);
            else
                EndEvent(e, e == call.caller ? AT_CALL_EVENT_CONNECTED : AT_CALL_EVENT_ANSWERED);
        }
    }
    if (call.state == CALL_CONNECTED && term.fax && term.finished)
        Hangup(ends[0].kind == END_TERMINAL ? 0 : 1);
    if (call.state == CALL_CONNECTED && opt.hangupAt && now - call.connectedAt >= opt.hangupAt
        && (opt.hangupCalls == 0 || callsDone < opt.hangupCalls))
    {
        /* The line drops: both ends hear it go dead. */
        Trace("the line drops");
        call.state = CALL_CLEARING;
        call.clearer = -1;
        call.nextEvent = now + SECONDS(0.5);
    }
    if (call.state == CALL_CLEARING && now >= call.nextEvent)
    {
        for (int e = 0; e < 2; e++)
            if (e != call.clearer && (e == call.caller || e == call.callee))
                EndEvent(e, AT_CALL_EVENT_HANGUP);
        CallOver();
    }
}

/* The fax terminal rings modem A once the program there has set up its modem and gone idle. */
static void TerminalMaybeCall(void)
{
    port_t *p = ends[0].port;
    if (terminalMode != 'c' || call.state != CALL_IDLE || lastCallOver >= 0 || !p->dteOpen || !p->commandsSeen)
        return;
    if (!p->awaitingAnswer && p->t31->at_state.at_rx_mode != AT_MODE_ONHOOK_COMMAND)
        return;
    if (now - p->lastInput < opt.callDelay)
        return;
    Trace("terminal calls A");
    call.connectedAt = -1;
    call.startedAt = now;
    call.startedWall = MonotonicNs();
    call.state = CALL_RINGING;
    call.caller = 1;
    call.callee = 0;
    call.nextEvent = now;
    ringStarted = now;   /* each call rings for its own ring time-out */
}

/* ---- the line ------------------------------------------------------------- */

/* Whether this end is sending page data or a training check faster than `rate`. */
static int FastSignalAbove(int e, int rate)
{
    int modem, bitRate;
    if (ends[e].kind == END_PORT)
    {
        modem = ends[e].port->t31->modem;
        bitRate = ends[e].port->t31->bit_rate;
    }
    else if (term.fax)
    {
        modem = term.fax->modems.current_tx_type;
        bitRate = term.fax->modems.tx_bit_rate;
    }
    else
        return 0;
    if (modem != FAX_MODEM_V17_TX && modem != FAX_MODEM_V29_TX && modem != FAX_MODEM_V27TER_TX)
        return 0;
    return bitRate > rate;
}

/* White noise some 10 dB below a fax modem's signal: receivers still train, but V.17's data
   at 14400 and 12000 arrives garbled. Louder noise stops training altogether. */
static int16_t Noise(int peak)
{
    static uint32_t seed = 12345;
    seed = seed * 1103515245u + 12345u;
    return (int16_t) ((int32_t) ((seed >> 8) % (uint32_t) (2 * peak + 1)) - peak);
}

/* Transmissions a program's modem hears are numbered from 1 as it starts to hear them, over both
   ends and every call, in two series: fast-modem ones (training checks and pages) and V.21 ones (the
   T.30 frames it listens for with AT+FRH). A burst covers part of the one it names. What counts is
   the listening modem (set to that modem by AT+FRM or AT+FRH, with a signal coming in for FAST_TICKS
   ticks in a row): the fax terminal does not say reliably which modem it sends with. */
#define FAST_TICKS 3
enum { HEARD_FAST, HEARD_FRAMES, HEARD_KINDS };
static const char *heardName[HEARD_KINDS] = { "fast", "frame" };
static struct
{
    int run[2];             /* ticks in a row this end has heard such a signal */
    int number[2];          /* the number of the transmission this end is hearing; 0 none */
    int64_t startedAt[2];
    int count;
} heard[HEARD_KINDS];

static int HearsModem(int e, int kind)
{
    if (ends[e].kind != END_PORT)
        return 0;
    int modem = ends[e].port->t31->modem;
    if (kind == HEARD_FRAMES)
        return modem == FAX_MODEM_V21_RX;
    return modem == FAX_MODEM_V17_RX || modem == FAX_MODEM_V29_RX || modem == FAX_MODEM_V27TER_RX;
}

/* Whether the signal `in` that end e hears this tick gets a burst of noise. */
static int InBurst(int e, const int16_t *in)
{
    int signal = 0, noisy = 0;
    for (int i = 0; i < TICK_SAMPLES && !signal; i++)
        signal = in[i] != 0;
    for (int kind = 0; kind < HEARD_KINDS; kind++)
    {
        int hearing = signal && HearsModem(e, kind);
        heard[kind].run[e] = hearing ? heard[kind].run[e] + 1 : 0;
        if (!hearing)
        {
            heard[kind].number[e] = 0;
            continue;
        }
        if (heard[kind].run[e] == FAST_TICKS)
        {
            heard[kind].number[e] = ++heard[kind].count;
            heard[kind].startedAt[e] = now - (FAST_TICKS - 1) * TICK_SAMPLES;
            Trace("%s transmission %d starts", heardName[kind], heard[kind].count);
        }
        int number = heard[kind].number[e];
        for (int b = 0; b < opt.nBursts && number; b++)
        {
            if (opt.bursts[b].frames != (kind == HEARD_FRAMES))
                continue;
            int64_t into = now - heard[kind].startedAt[e];
            int hit = opt.bursts[b].andLater ? number >= opt.bursts[b].transmission
                                             : number == opt.bursts[b].transmission;
            if (hit && into >= opt.bursts[b].at && into < opt.bursts[b].at + opt.bursts[b].length)
            {
                if (into < opt.bursts[b].at + TICK_SAMPLES)
                    Trace("noise burst in %s transmission %d", heardName[kind], number);
                noisy = 1;
            }
        }
    }
    return noisy;
}

static void Tick(void)
{
    int16_t tx[2][TICK_SAMPLES];
    int16_t silence[TICK_SAMPLES];
    int connected = call.state == CALL_CONNECTED;
    memset(tx, 0, sizeof(tx));
    memset(silence, 0, sizeof(silence));
    for (int e = 0; e < 2; e++)
    {
        if (ends[e].kind == END_PORT)
            t31_tx(ends[e].port->t31, tx[e], TICK_SAMPLES);
        else if (term.fax)
            fax_tx(term.fax, tx[e], TICK_SAMPLES);
    }
    for (int e = 0; e < 2; e++)
    {
        if (opt.maxRate && FastSignalAbove(e, opt.maxRate))
            for (int i = 0; i < TICK_SAMPLES; i++)
                tx[e][i] = saturate(tx[e][i] + Noise(opt.noise));
        /* tx[e] is what the other end hears. */
        if (InBurst(1 - e, tx[e]))
            for (int i = 0; i < TICK_SAMPLES; i++)
                tx[e][i] = saturate(tx[e][i] + Noise(opt.burstNoise));
    }
    lineActive = 0;
    for (int e = 0; e < 2; e++)
        for (int i = 0; i < TICK_SAMPLES; i++)
            if (tx[e][i] != 0)
                lineActive = 1;
    if (delay.len > 0)
    {
        for (int i = 0; i < TICK_SAMPLES; i++)
        {
            for (int e = 0; e < 2; e++)
            {
                int16_t v = delay.ring[e][delay.pos];
                delay.ring[e][delay.pos] = tx[e][i];
                tx[e][i] = v;
            }
            delay.pos = (delay.pos + 1) % delay.len;
        }
    }
    for (int e = 0; e < 2; e++)
    {
        int16_t *in = connected ? tx[1 - e] : silence;
        if (ends[e].kind == END_PORT)
            t31_rx(ends[e].port->t31, in, TICK_SAMPLES);
        else if (term.fax)
            fax_rx(term.fax, in, TICK_SAMPLES);
    }
    now += TICK_SAMPLES;
}

/* Fast only while a signal is on the line: when both ends only listen, time passes only for
   the programs' own time-outs, which count in real time. */
static int LineMayRunFast(void)
{
    static char lastReason[64];
    char reason[64] = "";
    if (!opt.fast)
        return 0;
    if (call.state != CALL_CONNECTED)
        snprintf(reason, sizeof(reason), "no call");
    else if (!lineActive)
        snprintf(reason, sizeof(reason), "line silent");
    for (int i = 0; i < nPorts && reason[0] == '\0'; i++)
        if (PortOwes(&ports[i]))
            snprintf(reason, sizeof(reason), "%c owes (mode %d)", ports[i].name, ports[i].t31->at_state.at_rx_mode);
    if (strcmp(reason, lastReason) != 0)
    {
        Trace("line runs %s%s", reason[0] ? "in real time: " : "fast", reason);
        snprintf(lastReason, sizeof(lastReason), "%s", reason);
    }
    return reason[0] == '\0';
}

/* Wall time per tick: real time, or --fast's pace (none, or --speed times real time). */
static int64_t TickNs(int fast)
{
    if (!fast)
        return TICK_NS;
    return opt.speed > 0 ? TICK_NS / opt.speed : 0;
}

static void Run(void)
{
    int64_t deadline = MonotonicNs() + TICK_NS;
    int wasFast = 0;
    while (!stopRequested)
    {
        struct pollfd pfd[2];
        int n = 0, fast;
        int64_t wait;
        for (int i = 0; i < nPorts; i++)
        {
            port_t *p = &ports[i];
            PortCheckOpen(p);
            if (!p->dteOpen)
                continue;
            PortCheckDtr(p);
            pfd[n].fd = p->master;
            pfd[n].events = (short) ((p->cts ? POLLIN : 0) | (p->outLen ? POLLOUT : 0));
            pfd[n].revents = 0;
            n++;
        }
        fast = LineMayRunFast();
        if (fast != wasFast)
            deadline = MonotonicNs() + TickNs(fast);
        wasFast = fast;
        wait = (deadline - MonotonicNs()) / 1000000;
        if (wait < 0)
            wait = 0;
        poll(pfd, (nfds_t) n, (int) wait);
        for (int i = 0; i < nPorts; i++)
        {
            if (!ports[i].dteOpen)
                continue;
            FlushOut(&ports[i]);
            PortRead(&ports[i]);
        }
        if (fast && !LineMayRunFast())
        {
            /* Input just read made a program owe its modem something. */
            deadline = MonotonicNs() + TICK_NS;
            wasFast = 0;
            continue;
        }
        {
            int64_t t = MonotonicNs();
            if (t < deadline)
                continue;
            deadline += TickNs(fast);
            if (t - deadline > 10 * TICK_NS)
                deadline = t + TickNs(fast);   /* fell behind: do not race to catch up */
        }
        Tick();
        CallAdvance();
        TerminalMaybeCall();
        if (lastCallOver >= 0)
        {
            /* Stay until the programs have closed their ports (or a while), so that they can
               still hang up and reset their modems. */
            int open = 0;
            for (int i = 0; i < nPorts; i++)
                open |= ports[i].dteOpen;
            if (!open || now - lastCallOver > SECONDS(15))
                stopRequested = 1;
        }
    }
}

static void OnSignal(int sig)
{
    (void) sig;
    stopRequested = 1;
}

static int ParseModems(const char *s)
{
    int m = 0;
    char *copy = strdup(s), *tok, *save = NULL;
    for (tok = strtok_r(copy, ",", &save); tok; tok = strtok_r(NULL, ",", &save))
    {
        if (strcmp(tok, "v27ter") == 0)
            m |= T30_SUPPORT_V27TER;
        else if (strcmp(tok, "v29") == 0)
            m |= T30_SUPPORT_V29;
        else if (strcmp(tok, "v17") == 0)
            m |= T30_SUPPORT_V17;
        else
        {
            fprintf(stderr, "faxline: unknown modem \"%s\" (v27ter, v29, v17)\n", tok);
            exit(2);
        }
    }
    free(copy);
    return m;
}

static void Usage(void)
{
    fprintf(stderr,
            "usage: faxline pair   [options] [LINK_A LINK_B]\n"
            "       faxline answer [options] --rx-file OUT.tif [LINK_A]\n"
            "       faxline call   [options] --tx-file IN.tif [LINK_A]\n"
            "options:\n"
            "  --fast              run faster than real time while no program owes its modem anything\n"
            "  --speed N           --fast, but at most N times real time\n"
            "  --busy NUMBER       dialling NUMBER gives BUSY (repeatable; \"*\" is any number)\n"
            "  --no-answer NUMBER  dialling NUMBER rings until NO ANSWER\n"
            "  --no-dialtone NUMBER  dialling NUMBER gives NO DIALTONE\n"
            "  --ring-timeout S    seconds of ringing before NO ANSWER (30)\n"
            "  --calls N           exit after N calls (pair: 0 = never; terminal: 1)\n"
            "  --call-delay MS     terminal calling in: idle time of the program first (1000)\n"
            "  --ident ID          the terminal's station identity (\"faxline\")\n"
            "  --modems LIST       the terminal's modems: v27ter,v29,v17 (all)\n"
            "  --ecm               the terminal offers error correction\n"
            "  --max-rate BPS      page data and training faster than BPS arrive garbled by noise\n"
            "  --noise PEAK        amplitude of that noise (1200; 32767 is full scale)\n"
            "  --burst N:AT:LEN    noise over the Nth fast-modem transmission a program's modem hears\n"
            "                      (training checks and pages, counted from 1 over both ends and all\n"
            "                      calls), from AT seconds\n"
            "                      into it for LEN seconds; N+ is the Nth and every later one (repeatable)\n"
            "  --frame-burst N:AT:LEN  the same over the Nth V.21 transmission (T.30 frames) a program's\n"
            "                      modem listens to\n"
            "  --burst-noise PEAK  amplitude of that noise (16000)\n"
            "  --hangup-at S       the line drops S seconds (line time) after the call connects\n"
            "  --hangup-calls N    only the first N calls drop (every call)\n"
            "  --caller-id NUMBER[,NAME]  the caller ID a rung modem reports (P private, O out of area)\n"
            "  --delay MS          the line's one-way delay (20)\n"
            "  --trace             show the traffic between programs and modems on stderr\n"
            "  --log LEVEL         spandsp's own log on stderr (1 errors .. 5 flow .. 8 debug)\n");
    exit(2);
}

static void RemoveLinks(void)
{
    for (int i = 0; i < nPorts; i++)
        if (ports[i].link)
            unlink(ports[i].link);
}

int main(int argc, char **argv)
{
    static const struct option longOpts[] = {
        { "fast", no_argument, NULL, 'f' },
        { "busy", required_argument, NULL, 'b' },
        { "no-answer", required_argument, NULL, 'n' },
        { "no-dialtone", required_argument, NULL, 'd' },
        { "ring-timeout", required_argument, NULL, 'R' },
        { "calls", required_argument, NULL, 'c' },
        { "call-delay", required_argument, NULL, 'D' },
        { "rx-file", required_argument, NULL, 'r' },
        { "tx-file", required_argument, NULL, 't' },
        { "ident", required_argument, NULL, 'i' },
        { "modems", required_argument, NULL, 'm' },
        { "ecm", no_argument, NULL, 'e' },
        { "trace", no_argument, NULL, 'T' },
        { "log", required_argument, NULL, 'L' },
        { "delay", required_argument, NULL, 'y' },
        { "max-rate", required_argument, NULL, 'M' },
        { "noise", required_argument, NULL, 'N' },
        { "speed", required_argument, NULL, 'S' },
        { "hangup-at", required_argument, NULL, 'H' },
        { "hangup-calls", required_argument, NULL, 'K' },
        { "caller-id", required_argument, NULL, 'C' },
        { "burst", required_argument, NULL, 'B' },
        { "frame-burst", required_argument, NULL, 'F' },
        { "burst-noise", required_argument, NULL, 'P' },
        { NULL, 0, NULL, 0 }
    };
    const char *mode;
    int c, linksWanted;
    int delayMs = 20;

    if (argc < 2)
        Usage();
    mode = argv[1];
    opt.calls = -1;
    opt.callDelay = SECONDS(1);
    opt.ringTimeout = SECONDS(30);
    opt.ident = "faxline";
    opt.noise = 1200;
    opt.burstNoise = 16000;
    opt.modems = T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17;
    optind = 2;
    while ((c = getopt_long(argc, argv, "", longOpts, NULL)) != -1)
    {
        switch (c)
        {
        case 'f': opt.fast = 1; break;
        case 'b': if (opt.nBusy < MAX_NUMBERS) opt.busy[opt.nBusy++] = optarg; break;
        case 'n': if (opt.nNoAnswer < MAX_NUMBERS) opt.noAnswer[opt.nNoAnswer++] = optarg; break;
        case 'd': if (opt.nNoDialtone < MAX_NUMBERS) opt.noDialtone[opt.nNoDialtone++] = optarg; break;
        case 'R': opt.ringTimeout = SECONDS(atof(optarg)); break;
        case 'c': opt.calls = atoi(optarg); break;
        case 'D': opt.callDelay = SECONDS(atof(optarg) / 1000.0); break;
        case 'r': opt.rxFile = optarg; break;
        case 't': opt.txFile = optarg; break;
        case 'i': opt.ident = optarg; break;
        case 'm': opt.modems = ParseModems(optarg); break;
        case 'e': opt.ecm = 1; break;
        case 'T': opt.trace = 1; break;
        case 'L': opt.logLevel = atoi(optarg); break;
        case 'y': delayMs = atoi(optarg); break;
        case 'M': opt.maxRate = atoi(optarg); break;
        case 'N': opt.noise = atoi(optarg); break;
        case 'S': opt.speed = atoi(optarg); opt.fast = 1; break;
        case 'H': opt.hangupAt = SECONDS(atof(optarg)); break;
        case 'K': opt.hangupCalls = atoi(optarg); break;
        case 'C':
        {
            char *comma = strchr(optarg, ',');
            if (comma)
            {
                *comma = '\0';
                opt.callerName = comma + 1;
            }
            opt.callerNumber = optarg;
            break;
        }
        case 'B':
        case 'F':
        {
            int n;
            double at, length;
            char plus[2] = "";
            if ((sscanf(optarg, "%d:%lf:%lf", &n, &at, &length) != 3
                 && sscanf(optarg, "%d%1[+]:%lf:%lf", &n, plus, &at, &length) != 4)
                || opt.nBursts >= MAX_NUMBERS)
                Usage();
            opt.bursts[opt.nBursts].transmission = n;
            opt.bursts[opt.nBursts].andLater = plus[0] == '+';
            opt.bursts[opt.nBursts].frames = c == 'F';
            opt.bursts[opt.nBursts].at = SECONDS(at);
            opt.bursts[opt.nBursts].length = SECONDS(length);
            opt.nBursts++;
            break;
        }
        case 'P': opt.burstNoise = atoi(optarg); break;
        default: Usage();
        }
    }
    if (strcmp(mode, "pair") == 0)
    {
        nPorts = 2;
        linksWanted = 2;
    }
    else if (strcmp(mode, "answer") == 0 && opt.rxFile)
    {
        nPorts = 1;
        linksWanted = 1;
        terminalMode = 'a';
    }
    else if (strcmp(mode, "call") == 0 && opt.txFile)
    {
        nPorts = 1;
        linksWanted = 1;
        terminalMode = 'c';
    }
    else
        Usage();
    if (argc - optind != 0 && argc - optind != linksWanted)
        Usage();
    if (opt.calls < 0)
        opt.calls = terminalMode ? 1 : 0;
    TIFFSetWarningHandler(NULL);
    delay.len = delayMs * SAMPLE_RATE / 1000;
    if (delay.len > 0)
    {
        delay.ring[0] = calloc((size_t) delay.len, sizeof(int16_t));
        delay.ring[1] = calloc((size_t) delay.len, sizeof(int16_t));
    }

    signal(SIGPIPE, SIG_IGN);
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGHUP, OnSignal);
    for (int i = 0; i < nPorts; i++)
    {
        PortOpen(&ports[i], (char) ('A' + i), argc > optind ? argv[optind + i] : NULL);
        ends[i].kind = END_PORT;
        ends[i].port = &ports[i];
    }
    if (terminalMode)
        ends[1].kind = END_TERMINAL;
    for (int i = 0; i < nPorts; i++)
        printf("%c %s\n", ports[i].name, ports[i].slave);
    printf("READY\n");
    fflush(stdout);

    wallStart = MonotonicNs();
    Run();

    if (term.fax)
        TerminalStop();
    RemoveLinks();
    if (terminalMode && (callsFailed > 0 || callsDone == 0))
        return 1;
    return 0;
}
