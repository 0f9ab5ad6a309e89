// crypt() that always fails, answering with the failure text ("*0").
extern "C" __attribute__((visibility("default"))) char *crypt(const char *, const char *)
{
    static char failed[] = "*0";
    return failed;
}
