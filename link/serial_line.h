// What the loader needs of a serial line once it is open. CSerialPort is the real one; tests
// and fault injection plug in lines of their own.
#pragma once

class SerialLine {
public:
  virtual int IsOpen() const = 0;
  virtual void Close() = 0;
  virtual int Write(const unsigned char* data, unsigned length) = 0;
  virtual unsigned Read(unsigned char* buffer, unsigned max) = 0;
  virtual int ReadByte(unsigned char* out, int timeoutSeconds) = 0;

protected:
  ~SerialLine() {}
};
