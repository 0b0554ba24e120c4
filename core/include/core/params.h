// Named parameters and their container.
//
// A parameter has a name and a value that can be set, read and written as
// text (its serialised state). A container ("Params") holds parameters by
// name and can save and restore the state of all of them, which is how
// objects built on parameters copy themselves.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace nox {

class Param {
public:
    explicit Param(std::string name) : name_(std::move(name)) {}
    virtual ~Param() = default;
    const std::string& name() const { return name_; }
    // Text form of the value, and the way back. restore() returns false and
    // leaves the value alone when the text is not a valid value.
    virtual std::string serialise() const = 0;
    virtual bool restore(const std::string& text) = 0;

private:
    std::string name_;
};

class BoolParam : public Param {
public:
    BoolParam(std::string name, bool value) : Param(std::move(name)), value_(value) {}
    bool value() const { return value_; }
    void setValue(bool v) { value_ = v; }
    std::string serialise() const override { return value_ ? "1" : "0"; }
    bool restore(const std::string& text) override;

private:
    bool value_;
};

// A choice among (value, name) pairs. The value may also hold a number that
// matches no choice (it is then shown without a name).
template <typename T>
class ChoiceParam : public Param {
public:
    struct Choice {
        T value;
        std::string name;
    };
    ChoiceParam(std::string name, T value) : Param(std::move(name)), value_(value) {}

    void addChoice(T value, std::string name) { choices_.push_back({value, std::move(name)}); }
    const std::vector<Choice>& choices() const { return choices_; }
    T value() const { return value_; }
    void setValue(T v) { value_ = v; }
    // Name of the choice holding v, or nullptr.
    const std::string* nameOf(T v) const
    {
        for (const auto& c : choices_)
            if (c.value == v)
                return &c.name;
        return nullptr;
    }
    std::string serialise() const override { return std::to_string(static_cast<long long>(value_)); }
    bool restore(const std::string& text) override
    {
        try {
            size_t used = 0;
            long long v = std::stoll(text, &used, 10);
            if (used != text.size())
                return false;
            setValue(static_cast<T>(v));
            return true;
        } catch (...) {
            return false;
        }
    }

private:
    T value_;
    std::vector<Choice> choices_;
};

// A named container of parameters, kept in insertion order.
class Params {
public:
    explicit Params(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    void add(std::shared_ptr<Param> param);
    std::shared_ptr<Param> find(const std::string& name) const;
    const std::vector<std::shared_ptr<Param>>& all() const { return params_; }

    // One line per parameter, "name=value"; restore() applies every line
    // whose name is known and returns false when any line could not be used.
    std::string serialise() const;
    bool restore(const std::string& state);

private:
    std::string name_;
    std::vector<std::shared_ptr<Param>> params_;
};

// The process-wide collection of parameter containers held by the context.
class ParamCollection {
public:
    void add(std::shared_ptr<Params> params);
    std::shared_ptr<Params> find(const std::string& name) const;
    size_t size() const { return containers_.size(); }

private:
    std::vector<std::shared_ptr<Params>> containers_;
};

}  // namespace nox
