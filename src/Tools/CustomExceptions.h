// The application's two exception types. Both carry a pointer to a static text and nothing else,
// so throwing one can never fail for lack of memory and the text outlives any handler.
#ifndef CUSTOMEXCEPTIONS_H
#define CUSTOMEXCEPTIONS_H

// Thrown by value when a settings lookup is asked for with a missing group or key.
// Deliberately not derived from std::exception: the window's catch-all handler treats it
// as an unknown failure, which is what a programming error in a fixed key name is.
class SettingException
{
public:
    explicit SettingException(const char* message)
        : pMessage(message)
    {}

    // Returns the static message text given at construction.
    const char* what() const { return pMessage; }

private:
    const char* pMessage;
};

// Thrown as a pointer to a new object by the axis service when a bus session cannot be set up;
// the catcher owns the object and deletes it.
class EtherCatException
{
public:
    explicit EtherCatException(const char* message)
        : pMessage(message)
    {}
    virtual ~EtherCatException() = default;

    // Returns the static message text given at construction.
    const char* what() const { return pMessage; }

private:
    const char* pMessage;
};

#endif // CUSTOMEXCEPTIONS_H
