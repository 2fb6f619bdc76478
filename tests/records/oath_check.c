/* oath_check: asks liboath, or PAM with pam_oath, whether a one-time password
 * is accepted for a user of a pam_oath users file.
 *
 *   oath_check usersfile FILE USER OTP [WINDOW]
 *       oath_authenticate_usersfile(), WINDOW (default 5) OTPs searched
 *       past and ahead (HOTP: the next ones; TOTP: steps either side).
 *   oath_check pam CONFDIR SERVICE USER OTP
 *       pam_start_confdir() with the service file CONFDIR/SERVICE, the OTP
 *       answered to every prompt, then pam_authenticate().
 *
 * Exit code: 0 accepted, 1 refused, 2 usage or set-up error. The library's
 * own result text goes to standard output. */
#define _POSIX_C_SOURCE 200809L
#include <liboath/oath.h>
#include <security/pam_appl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int usage(void)
{
    fputs("usage: oath_check usersfile FILE USER OTP [WINDOW]\n"
          "       oath_check pam CONFDIR SERVICE USER OTP\n",
          stderr);
    return 2;
}

static int check_usersfile(const char* file, const char* user, const char* otp,
                           const char* window_arg)
{
    char* end = NULL;
    long window = window_arg ? strtol(window_arg, &end, 10) : 5;
    if (window_arg && (*window_arg == '\0' || *end != '\0' || window < 0))
        return usage();
    if (oath_init() != OATH_OK) {
        fputs("oath_check: oath_init failed\n", stderr);
        return 2;
    }
    time_t last = 0;
    int rc = oath_authenticate_usersfile(file, user, otp, (size_t)window, NULL, &last);
    printf("%s: %s\n", oath_strerror_name(rc), oath_strerror(rc));
    oath_done();
    return rc == OATH_OK ? 0 : 1;
}

/* The module owns the answers once converse returns them; pam_oath does not
 * free them when it refuses the code, which a sanitizer build would report as
 * this program's leak. */
const char* __lsan_default_suppressions(void);
const char* __lsan_default_suppressions(void)
{
    return "leak:converse\n";
}

/* Answers the OTP to each prompt; shows the module's messages on stderr. */
static int converse(int n, const struct pam_message** msg, struct pam_response** resp, void* otp)
{
    struct pam_response* r = calloc((size_t)n, sizeof *r);
    if (!r)
        return PAM_BUF_ERR;
    for (int i = 0; i < n; ++i) {
        switch (msg[i]->msg_style) {
        case PAM_PROMPT_ECHO_OFF:
        case PAM_PROMPT_ECHO_ON:
            r[i].resp = strdup(otp);
            if (!r[i].resp) {
                for (int j = 0; j < i; ++j)
                    free(r[j].resp);
                free(r);
                return PAM_BUF_ERR;
            }
            break;
        default:
            fprintf(stderr, "pam: %s\n", msg[i]->msg);
        }
    }
    *resp = r;
    return PAM_SUCCESS;
}

static int check_pam(const char* confdir, const char* service, const char* user, const char* otp)
{
    struct pam_conv conv = {converse, (void*)otp};
    pam_handle_t* pamh = NULL;
    int rc = pam_start_confdir(service, user, &conv, confdir, &pamh);
    if (rc != PAM_SUCCESS) {
        fprintf(stderr, "oath_check: pam_start_confdir: %s\n", pam_strerror(pamh, rc));
        return 2;
    }
    rc = pam_authenticate(pamh, 0);
    printf("%s\n", pam_strerror(pamh, rc));
    pam_end(pamh, rc);
    return rc == PAM_SUCCESS ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc >= 5 && argc <= 6 && strcmp(argv[1], "usersfile") == 0)
        return check_usersfile(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : NULL);
    if (argc == 6 && strcmp(argv[1], "pam") == 0)
        return check_pam(argv[2], argv[3], argv[4], argv[5]);
    return usage();
}
