<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>window</name>
    <message>
        <source>无法启动 GDIPLUS，程序无法继续执行！</source>
        <translation>Cannot start the graphics system. The program cannot continue.</translation>
    </message>
</context>
</TS>
