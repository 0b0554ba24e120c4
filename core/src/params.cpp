#include "core/params.h"

#include <sstream>

namespace nox {

bool BoolParam::restore(const std::string& text)
{
    if (text == "1" || text == "true")
        setValue(true);
    else if (text == "0" || text == "false")
        setValue(false);
    else
        return false;
    return true;
}

void Params::add(std::shared_ptr<Param> param)
{
    if (param)
        params_.push_back(std::move(param));
}

std::shared_ptr<Param> Params::find(const std::string& name) const
{
    for (const auto& p : params_)
        if (p->name() == name)
            return p;
    return nullptr;
}

std::string Params::serialise() const
{
    std::string out;
    for (const auto& p : params_) {
        out += p->name();
        out += '=';
        out += p->serialise();
        out += '\n';
    }
    return out;
}

bool Params::restore(const std::string& state)
{
    bool ok = true;
    std::istringstream in(state);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            ok = false;
            continue;
        }
        auto p = find(line.substr(0, eq));
        if (!p || !p->restore(line.substr(eq + 1)))
            ok = false;
    }
    return ok;
}

void ParamCollection::add(std::shared_ptr<Params> params)
{
    if (params)
        containers_.push_back(std::move(params));
}

std::shared_ptr<Params> ParamCollection::find(const std::string& name) const
{
    for (const auto& c : containers_)
        if (c->name() == name)
            return c;
    return nullptr;
}

}  // namespace nox
