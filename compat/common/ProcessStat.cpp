#include "ProcessStat.h"

#include <fstream>
#include <sstream>

std::string ProcessStat::field(pid_t pid, int number)
{
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
    const std::size_t name = stat.rfind(')');
    std::istringstream fields(name == std::string::npos ? std::string() : stat.substr(name + 1));
    std::string field;
    for (int i = 3; i <= number && fields >> field; ++i) {
        if (i == number)
            return field;
    }
    return {};
}
