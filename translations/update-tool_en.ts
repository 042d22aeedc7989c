<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
  <context>
    <name>update-tool</name>
    <message>
      <source>已经完成</source>
      <translation>Done</translation>
    </message>
    <message>
      <source>正在处理</source>
      <translation>Processing</translation>
    </message>
    <message>
      <source>是</source>
      <translation>Yes</translation>
    </message>
    <message>
      <source>否</source>
      <translation>No</translation>
    </message>
    <message>
      <source>确定</source>
      <translation>OK</translation>
    </message>
    <message>
      <source>无法启动 GDIPLUS，程序无法继续执行！</source>
      <translation>Cannot start the graphics system. The program cannot continue.</translation>
    </message>
    <message>
      <source>%1更新工具 %2 beta</source>
      <extracomment>The window's title: %1 the product's name and a space (or nothing), %2 the version.</extracomment>
      <translation>%1Updater %2 beta</translation>
    </message>
    <message>
      <source>检查更新</source>
      <translation>Check for updates</translation>
    </message>
    <message>
      <source>点击这里访问作者页面</source>
      <translation>Visit the author's page</translation>
    </message>
    <message>
      <source>检查更新失败，请稍后重试。</source>
      <translation>Could not check for updates. Please try again later.</translation>
    </message>
    <message>
      <source>文件下载失败！</source>
      <translation>The download failed.</translation>
    </message>
    <message>
      <source>文件已经完成下载。软件必须解压后才能正常使用，是否用系统默认程序打开软件包？</source>
      <translation>The download is complete. The software must be unpacked before use. Open the package with its default program?</translation>
    </message>
    <message>
      <source>文件已经下载到当前目录。</source>
      <translation>The file was saved in the program's folder.</translation>
    </message>
    <message>
      <source>软件包签名校验失败，文件已删除。</source>
      <translation>The package's signature is not valid. The file was deleted.</translation>
    </message>
    <message>
      <source>版本信息签名校验失败，没有下载任何文件。</source>
      <translation>The release information's signature is not valid. Nothing was downloaded.</translation>
    </message>
    <message>
      <source>取消</source>
      <translation>Cancel</translation>
    </message>
    <message>
      <source>开始下载</source>
      <translation>Download</translation>
    </message>
    <message>
      <source>正在检查，请稍等 ...</source>
      <translation>Checking, please wait…</translation>
    </message>
    <message>
      <source>正在下载，请稍等 ...</source>
      <translation>Downloading, please wait…</translation>
    </message>
    <message>
      <source>按下 开始下载 按钮即表示您已确认以上协议。</source>
      <translation>Pressing Download accepts these terms.</translation>
    </message>
    <message>
      <source>按下 检查更新 按钮即表示您已确认以上协议。</source>
      <translation>Pressing Check for updates accepts these terms.</translation>
    </message>
    <message>
      <source>立即退出</source>
      <translation>Quit</translation>
    </message>
    <message>
      <source>最小化</source>
      <translation>Minimise</translation>
    </message>
    <message>
      <source>扩展显示</source>
      <translation>Expand or collapse</translation>
    </message>
    <message>
      <source>更换界面样式</source>
      <translation>Change the look</translation>
    </message>
    <message>
      <source>软件更新</source>
      <translation>Update</translation>
    </message>
    <message>
      <source>请重新下载对应版本更新工具</source>
      <translation>Please download the updater made for this product again.</translation>
    </message>
    <message>
      <source>按下 检查更新 按钮查找可供下载的最新版本</source>
      <translation>Press Check for updates to look for the newest version.</translation>
    </message>
    <message>
      <source>用户协议</source>
      <translation>User agreement</translation>
    </message>
    <message>
      <source>软件作者保证软件不含任何恶意代码或病毒;</source>
      <translation>The software has no malicious code or viruses</translation>
    </message>
    <message>
      <source>也不会在未经使用人允许的情况下连接网络;</source>
      <translation>and never goes online without your consent;</translation>
    </message>
    <message>
      <source>使用人不可将软件用于非法用途或反向工程;</source>
      <translation>do not use it unlawfully or reverse-engineer it;</translation>
    </message>
    <message>
      <source>软件版权归软件作者所有;</source>
      <translation>the copyright stays with the author.</translation>
    </message>
    <message>
      <source>联系作者 QQ: %1</source>
      <translation>Author's QQ: %1</translation>
    </message>
    <message>
      <source>或者电子邮件 %1</source>
      <translation>or e-mail: %1</translation>
    </message>
    <message>
      <source>下载</source>
      <extracomment>Under the page's title in the compact view, once a version is known.</extracomment>
      <translation>is ready to download</translation>
    </message>
  </context>
</TS>
