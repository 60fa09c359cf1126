// A time zone for the length of a test: TZ is set (and tzset called) while
// the object lives, then put back as it was, unset when it was unset.
#pragma once
#include <cstdlib>
#include <ctime>
#include <string>

class Rv_TestTimeZone {
public:
    // cszZone: a zone name ("Australia/Sydney") or a POSIX zone text
    // ("RVT+05:30", no time-zone files needed).
    explicit Rv_TestTimeZone(const char* cszZone)
    {
        const char* cszOld = getenv("TZ");
        m_bHad = cszOld != nullptr;
        if (cszOld)
            m_strOld = cszOld;
        setenv("TZ", cszZone, 1);
        tzset();
    }
    ~Rv_TestTimeZone()
    {
        if (m_bHad)
            setenv("TZ", m_strOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    Rv_TestTimeZone(const Rv_TestTimeZone&) = delete;
    Rv_TestTimeZone& operator=(const Rv_TestTimeZone&) = delete;

private:
    bool m_bHad = false;
    std::string m_strOld;
};
