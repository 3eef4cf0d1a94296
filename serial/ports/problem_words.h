#pragma once

#include <QString>

#include "serial/line/port_problem.h"

// One sentence or two, naming COM<port>, the device and what to do about it.
QString DescribeProblem(int port, const PortProblem& problem);
